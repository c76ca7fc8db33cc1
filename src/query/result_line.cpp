#include "query/result_line.h"

#include <cstdio>

namespace vesperlin::query {

namespace {

bool IsUtf8Continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Cuts `line` to at most `limit` bytes. A cut inside a multibyte UTF-8 character drops the
// whole character, so the list never shows (or prints) half a character.
void CutAtCharacter(std::string& line, std::size_t limit) {
    if (line.size() <= limit) return;
    std::size_t end = limit;
    while (end > 0 && IsUtf8Continuation(static_cast<unsigned char>(line[end]))) --end;
    // `end` now starts the character that crosses the limit (or the limit itself when the
    // byte there begins a character); keep what comes before it.
    if (end == 0) end = limit;  // no character start found: not UTF-8, cut by bytes
    line.resize(end);
}

}  // namespace

std::string FormatResultLine(sysinfo::ProcessId processId, const std::string& text) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "0x%04X  ", static_cast<unsigned>(processId));
    std::string line = prefix;
    line += text;
    CutAtCharacter(line, kMaxResultLineLength);
    return line;
}

bool AddResultLine(ResultList& results, sysinfo::ProcessId processId, const std::string& text) {
    const std::string line = FormatResultLine(processId, text);
    if (results.Contains(line)) return false;
    results.Add(line);
    return true;
}

std::string FormatNotUsedLine(const std::string& format, const std::string& name) {
    std::string out;
    bool substituted = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == 's' && !substituted) {
                out += name;
                substituted = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

}  // namespace vesperlin::query

#include "cli/cli_output.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <unordered_set>

#include "cli/json_text.h"

namespace vesperlin::cli {

namespace {

// Folder and wider queries name the matched path in each line, as the desktop list does.
bool ShowsPath(const query::QueryAnswer& answer) {
    return answer.kind == sysinfo::PathKind::Folder || answer.scope != sysinfo::Scope::Exact;
}

std::string Decimal(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

std::string HexNumber(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// Code points, which is how wide a terminal shows most text.
std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
    return columns;
}

// The first `columns` code points of valid UTF-8 text.
std::string CutToColumns(const std::string& text, std::size_t columns) {
    std::size_t at = 0, seen = 0;
    while (at < text.size() && seen < columns) {
        const std::size_t length = ValidUtf8Length(text, at);
        at += length == 0 ? 1 : length;
        ++seen;
    }
    return text.substr(0, at);
}

const char* KindName(sysinfo::PathKind kind) {
    switch (kind) {
        case sysinfo::PathKind::File:
            return "file";
        case sysinfo::PathKind::Folder:
            return "folder";
        case sysinfo::PathKind::Unreadable:
            break;
    }
    return "unreadable";
}

const char* ScopeName(sysinfo::Scope scope) {
    switch (scope) {
        case sysinfo::Scope::Exact:
            return "exact";
        case sysinfo::Scope::Under:
            return "recursive";
        case sysinfo::Scope::Volume:
            return "mount";
    }
    return "exact";
}

const char* StatusName(query::QueryStatus status) {
    switch (status) {
        case query::QueryStatus::Done:
            return "done";
        case query::QueryStatus::Stopped:
            return "stopped";
        case query::QueryStatus::Unreadable:
            return "unreadable";
        case query::QueryStatus::Unlisted:
            return "unlisted";
    }
    return "done";
}

const char* FoundAsName(const query::Hit& hit) {
    if (hit.asModule) return "module";
    return hit.asMapped ? "mapped" : "handle";
}

// One string member; a text that is not valid UTF-8 also gets its bytes in NAMEHex.
void Member(std::string& out, const char* name, const std::string& text) {
    out += ", \"";
    out += name;
    out += "\": ";
    out += JsonString(text);
    if (!IsValidUtf8(text)) {
        out += ", \"";
        out += name;
        out += "Hex\": \"" + HexBytes(text) + "\"";
    }
}

void StringArray(std::string& out, const std::vector<std::string>& texts) {
    out += "[";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + JsonString(texts[i]);
    out += "]";
}

void UseMembers(std::string& out, const sysinfo::FileUse& use) {
    out += ", \"use\": \"";
    out += sysinfo::UseKindName(use.kind);
    out += "\", \"useText\": " + JsonString(UseText(use));
    if (use.kind == sysinfo::UseKind::Descriptor) out += ", \"descriptor\": " + Decimal(use.number);
    if (use.kind == sysinfo::UseKind::Handle) out += ", \"handle\": " + Decimal(use.number);
    if (use.kind == sysinfo::UseKind::Descriptor || use.kind == sysinfo::UseKind::Handle) {
        out += ", \"access\": ";
        if (use.accessKnown) {
            StringArray(out, sysinfo::AccessNames(use.access));
        } else {
            out += "null";
        }
    }
    if (use.kind == sysinfo::UseKind::Executable || use.kind == sysinfo::UseKind::Mapping) {
        out += ", \"mappings\": ";
        StringArray(out, sysinfo::MappingPermissionTexts(use.mappings));
    }
}

// The text of a line: the image name, and the matched path where the query shows it.
std::string LineText(const query::QueryAnswer& answer, const query::Hit& hit) {
    std::string text = hit.imageName;
    if (ShowsPath(answer)) text += " (" + hit.path + ")";
    return text;
}

// The console's lines of one answer: decimal ids, whole, escaped, each once.
// `escape` for a terminal; JSON escapes in its own way.
std::vector<std::string> ConsoleLines(const query::QueryAnswer& answer, bool escape) {
    const auto shown = [escape](const std::string& text) {
        return escape ? EscapeForText(text) : text;
    };
    std::vector<std::string> lines;
    std::unordered_set<std::string> seen;
    for (const query::Hit& hit : answer.hits) {
        if (!hit.processFound) continue;
        std::string line = Decimal(hit.processId) + "  " + shown(LineText(answer, hit));
        if (seen.insert(line).second) lines.push_back(std::move(line));
    }
    if (lines.empty() && answer.status == query::QueryStatus::Done && !answer.notUsedLine.empty())
        lines.push_back(shown(answer.notUsedLine));
    return lines;
}

const sysinfo::ProcessDetails& DetailsOf(const CliReport& report, sysinfo::ProcessId processId) {
    static const sysinfo::ProcessDetails none;
    const auto found = report.details.find(processId);
    return found == report.details.end() ? none : found->second;
}

}  // namespace

std::string EscapeForText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = ValidUtf8Length(text, i);
        if (length > 1) {
            // C1 controls (U+0080..U+009F) act on terminals as ESC sequences do.
            if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
                char escaped[12];
                std::snprintf(escaped, sizeof escaped, "\\xC2\\x%02X",
                              static_cast<unsigned char>(text[i + 1]));
                out += escaped;
            } else {
                out.append(text, i, length);
            }
            i += length;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case 0x1B:
                out += "\\e";
                break;
            default:
                if (length == 0 || c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out;
}

std::string UseText(const sysinfo::FileUse& use) {
    std::string access;
    if (use.accessKnown) {
        if (use.access & sysinfo::AccessRead) access += 'r';
        if (use.access & sysinfo::AccessWrite) access += 'w';
        if (use.access & sysinfo::AccessDelete) access += 'd';
        if (use.access & sysinfo::AccessExecute) access += 'x';
    }
    switch (use.kind) {
        case sysinfo::UseKind::Module:
            return "module";
        case sysinfo::UseKind::Executable:
            return "exe";
        case sysinfo::UseKind::Mapping:
            return "mapped";
        case sysinfo::UseKind::Descriptor:
            return "fd " + Decimal(use.number) + (access.empty() ? "" : " " + access);
        case sysinfo::UseKind::Handle:
            return "handle " + HexNumber(use.number) + (access.empty() ? "" : " " + access);
        case sysinfo::UseKind::CurrentFolder:
            return "cwd";
        case sysinfo::UseKind::RootFolder:
            return "root";
    }
    return "";
}

std::size_t CountExited(const std::vector<query::QueryAnswer>& answers) {
    std::set<sysinfo::ProcessId> exited;
    for (const query::QueryAnswer& answer : answers)
        for (const query::Hit& hit : answer.hits)
            if (!hit.processFound) exited.insert(hit.processId);
    return exited.size();
}

bool AnyNamedHit(const std::vector<query::QueryAnswer>& answers) {
    for (const query::QueryAnswer& answer : answers)
        for (const query::Hit& hit : answer.hits)
            if (hit.processFound) return true;
    return false;
}

std::string FormatLines(const std::vector<query::QueryAnswer>& answers) {
    std::string out;
    for (const query::QueryAnswer& answer : answers) {
        if (answers.size() > 1) out += EscapeForText(answer.path) + ":\n";
        for (const std::string& line : ConsoleLines(answer, true)) out += line + '\n';
    }
    return out;
}

std::string FormatPids(const std::vector<query::QueryAnswer>& answers) {
    std::set<sysinfo::ProcessId> ids;
    for (const query::QueryAnswer& answer : answers)
        for (const query::Hit& hit : answer.hits)
            if (hit.processFound) ids.insert(hit.processId);
    std::string out;
    for (sysinfo::ProcessId id : ids) out += Decimal(id) + '\n';
    return out;
}

std::string FormatLong(const std::vector<query::QueryAnswer>& answers, const CliReport& report,
                       int width) {
    using Row = std::vector<std::string>;
    std::vector<Row> rows{{"PID", "USER", "USE", "PROGRAM", "PATH", "COMMAND"}};
    std::set<std::string> seen;
    for (const query::QueryAnswer& answer : answers) {
        for (const query::Hit& hit : answer.hits) {
            if (!hit.processFound) continue;
            const sysinfo::ProcessDetails& details = DetailsOf(report, hit.processId);
            Row row{
                Decimal(hit.processId),
                EscapeForText(details.user.empty() ? "?" : details.user),
                UseText(hit.use),
                EscapeForText(details.programPath.empty() ? hit.imageName : details.programPath),
                EscapeForText(hit.path),
                EscapeForText(details.commandLine)};
            std::string key;
            for (const std::string& cell : row) key += cell + '\n';
            if (seen.insert(key).second) rows.push_back(std::move(row));
        }
    }
    if (rows.size() == 1) return "";
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const Row& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], Columns(row[c]));
    std::string out;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            // The id is a number: right-aligned, as other tools show it.
            if (c == 0) line.append(widths[c] - Columns(row[c]), ' ');
            line += row[c];
            if (!last) line.append(c == 0 ? 2 : widths[c] - Columns(row[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (width > 0 && Columns(line) > static_cast<std::size_t>(width))
            line = CutToColumns(line, static_cast<std::size_t>(width));
        out += line + '\n';
    }
    return out;
}

std::string FormatJson(const std::vector<query::QueryAnswer>& answers, const CliReport& report) {
    std::string out = "{\n  \"schemaVersion\": 1,\n  \"queries\": [";
    for (std::size_t a = 0; a < answers.size(); ++a) {
        const query::QueryAnswer& answer = answers[a];
        out += a ? ",\n    {" : "\n    {";
        out += "\n      \"query\": " + JsonString(answer.path);
        if (!IsValidUtf8(answer.path)) out += ", \"queryHex\": \"" + HexBytes(answer.path) + "\"";
        out += ",\n      \"kind\": \"";
        out += KindName(answer.kind);
        out += "\", \"scope\": \"";
        out += ScopeName(answer.scope);
        out += "\", \"status\": \"";
        out += StatusName(answer.status);
        out += "\",\n      \"reason\": ";
        out += answer.reason.empty() ? "null" : JsonString(answer.reason);
        out += ",\n      \"messages\": ";
        StringArray(out, answer.messages);
        bool used = false;
        std::string hits;
        for (const query::Hit& hit : answer.hits) {
            if (!hit.processFound) continue;
            used = true;
            const sysinfo::ProcessDetails& details = DetailsOf(report, hit.processId);
            hits += hits.empty() ? "\n        {" : ",\n        {";
            hits += "\"processId\": " + Decimal(hit.processId);
            Member(hits, "imageName", hit.imageName);
            Member(hits, "user", details.user);
            Member(hits, "program", details.programPath);
            Member(hits, "command", details.commandLine);
            Member(hits, "path", hit.path);
            hits += ", \"foundAs\": \"";
            hits += FoundAsName(hit);
            hits += "\"";
            UseMembers(hits, hit.use);
            hits += "}";
        }
        out += ",\n      \"used\": ";
        out += used ? "true" : "false";
        out += ",\n      \"hits\": [" + hits + (hits.empty() ? "]" : "\n      ]");
        out += ",\n      \"lines\": ";
        StringArray(out, ConsoleLines(answer, false));
        out += ",\n      \"skipped\": [";
        for (std::size_t s = 0; s < answer.skipped.size(); ++s) {
            out += s ? ", {\"path\": " : "{\"path\": ";
            out += JsonString(answer.skipped[s].path);
            if (!IsValidUtf8(answer.skipped[s].path))
                out += ", \"pathHex\": \"" + HexBytes(answer.skipped[s].path) + "\"";
            out += ", \"reason\": " + JsonString(answer.skipped[s].reason) + "}";
        }
        out += "]\n    }";
    }
    out += answers.empty() ? "],\n" : "\n  ],\n";
    out += "  \"exitedProcesses\": " + Decimal(report.exitedProcesses) + ",\n";
    out += "  \"inaccessibleProcesses\": " + Decimal(report.inaccessibleProcesses) + "\n}\n";
    return out;
}

}  // namespace vesperlin::cli

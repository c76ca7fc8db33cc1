#pragma once
// Result lines: "0x%04X  %s", at most 255 characters, never listed twice.

#include <cstddef>
#include <string>

#include "query/result_list.h"
#include "sysinfo/system.h"

namespace vesperlin::query {

// The longest line the list keeps; the desktop list box reads lines into 256-byte buffers.
inline constexpr std::size_t kMaxResultLineLength = 255;

// "0x" and the identifier in upper-case hexadecimal (at least four digits), two blanks, the
// text; cut to kMaxResultLineLength bytes without splitting a UTF-8 character.
std::string FormatResultLine(sysinfo::ProcessId processId, const std::string& text);

// Formats the line and adds it at the end unless an identical line (byte for byte, with
// case) is already listed. Returns whether the line was added.
bool AddResultLine(ResultList& results, sysinfo::ProcessId processId, const std::string& text);

// Puts `name` in place of the first "%s" of `format` and turns "%%" into "%"; nothing else in
// the text is interpreted, so a translated resource string cannot act as a printf format.
std::string FormatNotUsedLine(const std::string& format, const std::string& name);

}  // namespace vesperlin::query

#pragma once
// The one conversion between the platform's 16-bit text and our 8-bit text, which is UTF-8
// everywhere (the manifest makes it the active code page). Invalid input never passes through:
// whatever cannot be decoded becomes U+FFFD, as the platform's own conversion does, so that no
// invalid sequence ever reaches a comparison or a display.

#include <cstddef>
#include <string>
#include <string_view>

namespace vesperlin::base {

// Appends the UTF-8 form of the code point `code` to `out`; a surrogate or anything above
// U+10FFFF is appended as U+FFFD.
void AppendUtf8(char32_t code, std::string& out);

// Exactly `units` code units (NULs included); a lone surrogate becomes U+FFFD. A null `text`
// gives the empty string.
std::string Utf8FromUtf16(const char16_t* text, std::size_t units);

// Each invalid or truncated sequence, overlong form and encoded surrogate becomes U+FFFD,
// sequence by sequence as MultiByteToWideChar(CP_UTF8, 0, ...) replaces them: a byte that
// cannot start or continue a sequence is one replacement, an unfinished sequence is one.
std::u16string Utf16FromUtf8(std::string_view text);

}  // namespace vesperlin::base

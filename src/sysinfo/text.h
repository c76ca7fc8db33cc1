#pragma once
// The platform's 16-bit text turned into our 8-bit strings (the active code page, which our
// manifest makes UTF-8). The native interfaces hand us UTF-16 as char16_t here; the Windows
// layer passes wchar_t and UNICODE_STRING through the overloads in sysinfo/win32/wide_text.h.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesperlin {

// Layout-compatible with the platform's UNICODE_STRING: lengths in bytes, Buffer may be null.
struct CountedText16 {
    std::uint16_t Length = 0;
    std::uint16_t MaximumLength = 0;
    const char16_t* Buffer = nullptr;
};

// Appends the UTF-8 form of the code point `code` (at most U+10FFFF) to `out`.
void AppendUtf8(char32_t code, std::string& out);

// Number of code units before the first NUL, reading at most `maxUnits`.
std::size_t BoundedLength16(const char16_t* text, std::size_t maxUnits);

// Converts exactly `units` code units. A lone surrogate becomes U+FFFD, as the platform's own
// conversion does, so that no invalid 8-bit sequence ever reaches a comparison.
std::string NarrowFromUtf16(const char16_t* text, std::size_t units);

// NUL-terminated text; a null pointer gives the empty string.
void WideToNarrow(const char16_t* text, std::string& result);

// The text of a counted string up to its first NUL, never reading past its lengths in bytes;
// both lengths 0 or a null Buffer give the empty string.
void CountedWideToNarrow(const CountedText16& record, std::string& result);

}  // namespace vesperlin

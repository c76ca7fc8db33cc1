#pragma once
// The counted and NUL-terminated 16-bit text that the native records carry, turned into our
// 8-bit text through the one converter (base/text.h). The Windows layer passes UNICODE_STRING
// through the adapter in sysinfo/win32/wide_text.h.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesperlin::sysinfo {

// Layout-compatible with the platform's UNICODE_STRING: lengths in bytes, Buffer may be null.
struct CountedText16 {
    std::uint16_t Length = 0;
    std::uint16_t MaximumLength = 0;
    const char16_t* Buffer = nullptr;
};

// Number of code units before the first NUL, reading at most `maxUnits`.
std::size_t BoundedLength16(const char16_t* text, std::size_t maxUnits);

// NUL-terminated text; a null pointer gives the empty string.
void WideToNarrow(const char16_t* text, std::string& result);

// The text of a counted string up to its first NUL, never reading past its lengths in bytes;
// both lengths 0 or a null Buffer give the empty string.
void CountedWideToNarrow(const CountedText16& record, std::string& result);

}  // namespace vesperlin::sysinfo

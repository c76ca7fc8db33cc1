#include "sysinfo/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vesperlin {

namespace {

#ifndef _WIN32
constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
#endif

}  // namespace

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::size_t BoundedLength16(const char16_t* text, std::size_t maxUnits) {
    if (!text) return 0;
    std::size_t n = 0;
    while (n < maxUnits && text[n] != u'\0') ++n;
    return n;
}

std::string NarrowFromUtf16(const char16_t* text, std::size_t units) {
    std::string out;
    if (!text || units == 0) return out;
#ifdef _WIN32
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    const int count = static_cast<int>(units);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return out;
    out.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, wide, count, out.data(), bytes, nullptr, nullptr);
#else
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            const char32_t code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                  (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            AppendUtf8(code, out);
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(kReplacement, out);
        } else {
            AppendUtf8(unit, out);
        }
    }
#endif
    return out;
}

void WideToNarrow(const char16_t* text, std::string& result) {
    result.clear();
    if (!text) return;
    std::size_t n = 0;
    while (text[n] != u'\0') ++n;
    result = NarrowFromUtf16(text, n);
}

void CountedWideToNarrow(const CountedText16& record, std::string& result) {
    result.clear();
    if ((record.Length == 0 && record.MaximumLength == 0) || !record.Buffer) return;
    // The text ends at its NUL, not at Length; the larger length bounds the read when there is
    // none (Length never exceeds MaximumLength in a sound record, but we do not rely on it).
    const std::size_t bytes =
        record.Length > record.MaximumLength ? record.Length : record.MaximumLength;
    const std::size_t units = BoundedLength16(record.Buffer, bytes / 2);
    result = NarrowFromUtf16(record.Buffer, units);
}

}  // namespace vesperlin

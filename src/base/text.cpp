#include "base/text.h"

namespace vesperlin::base {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Whether the second byte of a sequence keeps it well formed: after some lead bytes only part
// of 80..BF does, the rest would give an overlong form, a surrogate or more than U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
    switch (lead) {
        case 0xE0:
            return second >= 0xA0 && second <= 0xBF;
        case 0xED:
            return second >= 0x80 && second <= 0x9F;
        case 0xF0:
            return second >= 0x90 && second <= 0xBF;
        case 0xF4:
            return second >= 0x80 && second <= 0x8F;
        default:
            return IsContinuation(second);
    }
}

// Bytes after the lead byte in a well-formed sequence; 0 for a byte that cannot lead one.
std::size_t TrailCount(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

void AppendUtf16(char32_t code, std::u16string& out) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
}

}  // namespace

void AppendUtf8(char32_t code, std::string& out) {
    if (code > 0x10FFFF || IsHighSurrogate(code) || IsLowSurrogate(code)) code = kReplacement;
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

std::string Utf8FromUtf16(const char16_t* text, std::size_t units) {
    std::string out;
    if (!text) return out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
            ++i;
        } else {
            AppendUtf8(unit, out);  // a lone half becomes U+FFFD there
        }
    }
    return out;
}

std::u16string Utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        const std::size_t trail = TrailCount(lead);
        char32_t code = lead & (0x3F >> trail);
        std::size_t taken = 1;
        bool valid = trail != 0;
        // Consume the longest start of a well-formed sequence; where it breaks off, the bytes
        // taken so far are one replacement and the breaking byte starts afresh. A second byte
        // that is a continuation byte but makes the form overlong, a surrogate or too large is
        // taken into that replacement, as the platform's conversion does.
        while (valid && taken <= trail && i + taken < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + taken]);
            if (!IsContinuation(next)) break;
            if (taken == 1 && !SecondByteFits(lead, next)) valid = false;
            code = (code << 6) | (next & 0x3F);
            ++taken;
        }
        AppendUtf16(valid && taken == trail + 1 ? code : kReplacement, out);
        i += taken;
    }
    return out;
}

}  // namespace vesperlin::base

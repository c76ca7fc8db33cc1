#include "cli/json_text.h"

#include <cstdio>
#include <string>

namespace vesperlin::cli {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char min2 = 0x80, max2 = 0xBF;  // the second byte's range rules out overlong
                                             // forms, surrogates and values past U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) min2 = 0xA0;
        if (lead == 0xED) max2 = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) min2 = 0x90;
        if (lead == 0xF4) max2 = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (byte(i + 1) < min2 || byte(i + 1) > max2) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::size_t ValidUtf8Length(const std::string& text, std::size_t at) {
    if (at >= text.size()) return 0;
    if (static_cast<unsigned char>(text[at]) < 0x80) return 1;
    return Utf8SequenceLength(text, at);
}

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = ValidUtf8Length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string HexBytes(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(text.size() * 2);
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                        out += escaped;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\\uFFFD";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    out += '"';
    return out;
}

}  // namespace vesperlin::cli

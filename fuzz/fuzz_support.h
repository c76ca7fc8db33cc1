#pragma once
// What the fuzz targets share: a check that ends the run with the failed condition (libFuzzer
// then keeps the input), and a reader that takes an input apart.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace vesperlin::fuzz {

// Reads an input front to back; past its end every read gives zeros and empty texts.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    // A text of up to 255 bytes: one length byte, then the bytes.
    std::string Field() {
        const std::size_t length = Byte();
        const std::size_t taken = length < size - at ? length : size - at;
        std::string text(reinterpret_cast<const char*>(data + at), taken);
        at += taken;
        return text;
    }
    // The text up to the next `separator` (taken, not kept), or to the end.
    std::string Until(char separator) {
        const std::size_t start = at;
        while (at < size && data[at] != static_cast<std::uint8_t>(separator)) ++at;
        std::string text(reinterpret_cast<const char*>(data + start), at - start);
        if (at < size) ++at;
        return text;
    }
    std::string_view Rest() {
        std::string_view rest(reinterpret_cast<const char*>(data + at), size - at);
        at = size;
        return rest;
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

// `text` with every byte that does not begin a well-formed UTF-8 sequence replaced by U+FFFD
// (overlong forms, surrogates and values past U+10FFFF are not well formed); what a writer that
// must emit valid UTF-8 gives back for arbitrary bytes.
inline std::string WellFormedUtf8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (valid) {
            static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = code >= kSmallest[length] && code <= 0x10FFFF &&
                    !(code >= 0xD800 && code <= 0xDFFF);
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

}  // namespace vesperlin::fuzz

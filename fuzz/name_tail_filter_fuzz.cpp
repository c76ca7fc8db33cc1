// NameTailFilter over any looked-for names and any probed path. Input: UTF-16 (little-endian
// byte pairs) split at U+000A; the last piece is a probed path, the others are looked-for names.
// The filter may admit too much, never too little: every tail of a name that starts at a
// backslash must be admitted, in any case the platform counts as equal.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sysinfo/name_tail_filter.h"

using namespace vesperlin::sysinfo;

namespace {

// The same text as the platform's ordinal case-insensitive rule may see it: ASCII and Latin-1
// letters in the other case, and the letters beyond ASCII that its upper-case table maps onto
// I and S (dotless i, long s) standing for them.
std::u16string OtherCase(const std::u16string& text, unsigned pattern) {
    std::u16string other = text;
    for (std::size_t i = 0; i < other.size(); ++i) {
        char16_t& unit = other[i];
        const bool flip = (pattern >> (i % 16)) & 1;
        if (unit >= u'a' && unit <= u'z') {
            if (flip) unit = static_cast<char16_t>(unit - u'a' + u'A');
        } else if (unit >= u'A' && unit <= u'Z') {
            if (flip) unit = static_cast<char16_t>(unit - u'A' + u'a');
        } else if (unit >= 0xC0 && unit <= 0xFE && unit != 0xD7 && unit != 0xF7 && unit != 0xDF) {
            if (flip) unit ^= 0x20;  // A grave and a grave, and so on
        }
        if (flip && (unit == u'i' || unit == u'I')) unit = u'\u0131';
        if (flip && (unit == u's' || unit == u'S')) unit = u'\u017f';
    }
    return other;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> pieces(1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == u'\n') {
            pieces.emplace_back();
        } else {
            pieces.back() += unit;
        }
    }
    const std::u16string probe = pieces.back();
    pieces.pop_back();
    const unsigned pattern = size > 0 ? data[0] * 257u : 0;

    const vesperlin::sysinfo::NameTailFilter filter(pieces);
    filter.Admits(probe.data(), probe.size());
    FUZZ_CHECK(filter.Admits(nullptr, 0));
    for (const std::u16string& name : pieces) {
        for (std::size_t at = name.find(u'\\'); at != std::u16string::npos;
             at = name.find(u'\\', at + 1)) {
            const std::u16string tail = name.substr(at);
            FUZZ_CHECK(filter.Admits(tail.data(), tail.size()));
            const std::u16string other = OtherCase(tail, pattern | 1);
            FUZZ_CHECK(filter.Admits(other.data(), other.size()));
        }
    }
    return 0;
}

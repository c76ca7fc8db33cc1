// The one text converter, both ways, on any bytes: 8-bit input (command lines, dropped names,
// paths typed by the user) and any 16-bit units.
#include <string>

#include "base/text.h"
#include "fuzz_support.h"

using namespace vesperlin::base;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string valid = vesperlin::fuzz::WellFormedUtf8(bytes);
    const std::u16string wide = vesperlin::base::Utf16FromUtf8(bytes);
    // Every byte gives at most one unit of its own (a four-byte form gives a pair).
    FUZZ_CHECK(wide.size() <= size);
    // Decoding invalid input never yields a lone surrogate, so the way back is lossless.
    const std::string back = vesperlin::base::Utf8FromUtf16(wide.data(), wide.size());
    FUZZ_CHECK(vesperlin::fuzz::WellFormedUtf8(back) == back);
    FUZZ_CHECK(vesperlin::base::Utf16FromUtf8(back) == wide);
    // Well-formed input comes back byte for byte.
    if (valid == bytes) FUZZ_CHECK(back == bytes);

    // The same bytes read as 16-bit units (of any value) narrow to well-formed text.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::string narrow = vesperlin::base::Utf8FromUtf16(units.data(), units.size());
    FUZZ_CHECK(vesperlin::fuzz::WellFormedUtf8(narrow) == narrow);
    FUZZ_CHECK(narrow.size() <= 3 * units.size());
    return 0;
}

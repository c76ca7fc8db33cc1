#pragma once
// What the fuzz targets of the native records share.

#include <cstdint>
#include <string>

#include "fuzz_support.h"

namespace vesperlin::fuzz {

// Where the platform wrote the buffer a target is given: text addresses in the seeds point
// into the buffer relative to this.
inline constexpr std::uint64_t kBufferAddress = 0x7ff610000000;

// Text that came out of a conversion from UTF-16 is well-formed UTF-8.
inline void CheckConverted(const std::string& text) {
    FUZZ_CHECK(WellFormedUtf8(text) == text);
}

}  // namespace vesperlin::fuzz

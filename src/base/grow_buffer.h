#pragma once
// The one "grow the buffer until it fits" loop. The caller owns the buffer and knows the call;
// this knows how to grow: never past the caller's limit, never on a reported length that is no
// larger than what was just tried (some calls report 0 or a stale length for small buffers),
// and never for ever, since every further try is at least twice as large as the one before.

#include <algorithm>
#include <cstddef>
#include <limits>

namespace vesperlin::base {

// Sizes in whatever unit the call counts (bytes, characters, array entries).
struct GrowLimits {
    std::size_t first = 0;    // the first try (at least 1)
    std::size_t largest = 0;  // no try is larger; a call that needs more is given up on
    std::size_t margin = 0;   // added to a reported need: room for what appears meanwhile
};

// What one try at a size says.
struct TryResult {
    enum class Kind { Fits, TooSmall, Failed };
    Kind kind = Kind::Failed;
    std::size_t length = 0;  // the length used (Fits) or needed (TooSmall; 0 when not reported)

    static TryResult Fits(std::size_t used) { return {Kind::Fits, used}; }
    static TryResult TooSmall(std::size_t needed = 0) { return {Kind::TooSmall, needed}; }
    static TryResult Failed() { return {Kind::Failed, 0}; }
};

struct GrowResult {
    enum class Kind { Fits, TooLarge, Failed };
    Kind kind = Kind::Failed;
    std::size_t size = 0;  // the size of the last try (what the buffer holds now)
    std::size_t used = 0;  // the length the last try used, when it fitted

    bool Fits() const { return kind == Kind::Fits; }
};

// Calls `tryAt(size)` (which returns a TryResult) with growing sizes until a try fits or fails,
// or the limit is reached: TooLarge then, with `size` the last size tried (0 when even the
// first was over the limit).
template <typename TryAt>
GrowResult GrowBuffer(const GrowLimits& limits, TryAt&& tryAt) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    std::size_t size = std::max<std::size_t>(limits.first, 1);
    if (size > limits.largest) return {GrowResult::Kind::TooLarge, 0, 0};
    for (;;) {
        const TryResult result = tryAt(size);
        if (result.kind == TryResult::Kind::Fits)
            return {GrowResult::Kind::Fits, size, result.length};
        if (result.kind == TryResult::Kind::Failed) return {GrowResult::Kind::Failed, size, 0};
        // A need no larger than what was tried says nothing: double instead.
        const std::size_t needed = result.length > size ? result.length : 0;
        if (size == limits.largest || needed > limits.largest)
            return {GrowResult::Kind::TooLarge, size, 0};
        const std::size_t doubled = size > kMax / 2 ? kMax : size * 2;
        const std::size_t asked = needed > kMax - limits.margin ? kMax : needed + limits.margin;
        size = std::min(std::max(doubled, asked), limits.largest);
    }
}

}  // namespace vesperlin::base

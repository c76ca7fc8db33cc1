#include "base/grow_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace vesperlin::base {
namespace {

// A call that needs `needed` units and reports its need as `report` says; records each try.
struct ScriptedCall {
    enum class Report { Exact, Nothing, TinyBelow };
    explicit ScriptedCall(std::size_t needed, Report report = Report::Exact,
                          std::size_t tinyBelow = 0)
        : needed(needed), report(report), tinyBelow(tinyBelow) {}

    std::size_t needed;
    Report report;
    std::size_t tinyBelow;  // sizes under this get a reported length of 0
    std::vector<std::size_t> tries;

    TryResult operator()(std::size_t size) {
        tries.push_back(size);
        if (size >= needed) return TryResult::Fits(needed);
        switch (report) {
            case Report::Exact:
                return TryResult::TooSmall(size < tinyBelow ? 0 : needed);
            case Report::Nothing:
                return TryResult::TooSmall();
            case Report::TinyBelow:
                return TryResult::TooSmall(size);  // a length no larger than what was tried
        }
        return TryResult::Failed();
    }
};

TEST(GrowBuffer, TriesOnceWhenTheFirstSizeFits) {
    ScriptedCall call{100};
    const GrowResult result = GrowBuffer(GrowLimits{128, 1024, 0}, call);
    EXPECT_TRUE(result.Fits());
    EXPECT_EQ(result.size, 128u);
    EXPECT_EQ(result.used, 100u);
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{128}));
}

TEST(GrowBuffer, GrowsToTheReportedNeedPlusItsMarginWhenThatIsMoreThanDouble) {
    ScriptedCall call{1000};
    const GrowResult result = GrowBuffer(GrowLimits{100, 1 << 20, 24}, call);
    EXPECT_TRUE(result.Fits());
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{100, 1024}));
    EXPECT_EQ(result.used, 1000u);
}

TEST(GrowBuffer, DoublesWhenTheReportedNeedIsLessThanDouble) {
    ScriptedCall call{150};
    EXPECT_TRUE(GrowBuffer(GrowLimits{100, 1 << 20, 10}, call).Fits());
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{100, 200}));
}

TEST(GrowBuffer, DoublesWhenNoNeedIsReported) {
    ScriptedCall call{700, ScriptedCall::Report::Nothing};
    const GrowResult result = GrowBuffer(GrowLimits{100, 1 << 20, 0}, call);
    EXPECT_TRUE(result.Fits());
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{100, 200, 400, 800}));
}

TEST(GrowBuffer, NeverTrustsAReportedLengthNoLargerThanWhatWasTried) {
    // As the handle table does for buffers under its header: 0, then the truth.
    ScriptedCall tiny{5000, ScriptedCall::Report::Exact, 56};
    EXPECT_TRUE(GrowBuffer(GrowLimits{16, 1 << 20, 0}, tiny).Fits());
    EXPECT_EQ(tiny.tries, (std::vector<std::size_t>{16, 32, 64, 5000}));

    // A call that echoes the size it was given would otherwise retry the same size forever.
    ScriptedCall echo{300, ScriptedCall::Report::TinyBelow};
    EXPECT_TRUE(GrowBuffer(GrowLimits{100, 1 << 20, 0}, echo).Fits());
    EXPECT_EQ(echo.tries, (std::vector<std::size_t>{100, 200, 400}));
}

TEST(GrowBuffer, StopsAtTheLimitAfterTryingTheLimitItself) {
    ScriptedCall call{5000, ScriptedCall::Report::Nothing};
    const GrowResult result = GrowBuffer(GrowLimits{100, 1000, 0}, call);
    EXPECT_EQ(result.kind, GrowResult::Kind::TooLarge);
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{100, 200, 400, 800, 1000}));
    EXPECT_EQ(result.size, 1000u);  // the buffer holds the largest try, for callers that use it
}

TEST(GrowBuffer, GivesUpAtOnceOnANeedBeyondTheLimit) {
    ScriptedCall call{5000};
    const GrowResult result = GrowBuffer(GrowLimits{100, 1000, 0}, call);
    EXPECT_EQ(result.kind, GrowResult::Kind::TooLarge);
    EXPECT_EQ(call.tries, (std::vector<std::size_t>{100}));
}

TEST(GrowBuffer, ReportsAFirstSizeOverTheLimitAsTooLargeWithoutTrying) {
    ScriptedCall call{10};
    EXPECT_EQ(GrowBuffer(GrowLimits{2000, 1000, 0}, call).kind, GrowResult::Kind::TooLarge);
    EXPECT_TRUE(call.tries.empty());
}

TEST(GrowBuffer, PassesAFailureThroughWithoutRetrying) {
    int calls = 0;
    const GrowResult result = GrowBuffer(GrowLimits{64, 1 << 20, 0}, [&](std::size_t size) {
        ++calls;
        return size < 128 ? TryResult::TooSmall() : TryResult::Failed();
    });
    EXPECT_EQ(result.kind, GrowResult::Kind::Failed);
    EXPECT_EQ(result.size, 128u);
    EXPECT_EQ(calls, 2);
}

TEST(GrowBuffer, EndsForACallThatNeverFitsEvenWithTheLargestLimits) {
    // Doubling from 1 reaches any limit in at most one try per bit of a size.
    int calls = 0;
    const GrowResult result =
        GrowBuffer(GrowLimits{0, static_cast<std::size_t>(-1), 0}, [&](std::size_t) {
            ++calls;
            return TryResult::TooSmall();
        });
    EXPECT_EQ(result.kind, GrowResult::Kind::TooLarge);
    EXPECT_LE(calls, 65);
}

TEST(GrowBuffer, SaturatesANeedNearTheTopOfTheRangeInsteadOfWrappingAround) {
    const std::size_t top = static_cast<std::size_t>(-1);
    std::vector<std::size_t> tries;
    GrowBuffer(GrowLimits{16, top, 1024}, [&](std::size_t size) {
        tries.push_back(size);
        return tries.size() == 1 ? TryResult::TooSmall(top - 10) : TryResult::Failed();
    });
    ASSERT_EQ(tries.size(), 2u);
    EXPECT_EQ(tries[1], top);
}

}  // namespace
}  // namespace vesperlin::base

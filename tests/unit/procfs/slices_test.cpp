// Walks split into slices still cover every process once, in order, and report failures.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>

#include "sysinfo/procfs/slices.h"

namespace vesperlin::sysinfo::procfs {
namespace {

TEST(RunSlices, CoversEveryItemOnceInContiguousOrderedRanges) {
    for (std::size_t items : {0u, 1u, 7u, 1000u}) {
        for (std::size_t slices : {1u, 3u, 4u}) {
            std::vector<std::pair<std::size_t, std::size_t>> ranges(slices);
            RunSlices(items, slices, [&](std::size_t slice, std::size_t begin, std::size_t end) {
                ranges[slice] = {begin, end};
            });
            std::size_t next = 0;
            for (auto [begin, end] : ranges) {
                EXPECT_EQ(begin, next) << items << " items in " << slices << " slices";
                EXPECT_LE(begin, end);
                next = end;
            }
            EXPECT_EQ(next, items);
        }
    }
}

TEST(RunSlices, RethrowsWhatASliceThrewAfterAllHaveEnded) {
    std::mutex lock;
    std::size_t finished = 0;
    auto work = [&](std::size_t slice, std::size_t, std::size_t) {
        if (slice == 2) throw std::runtime_error("slice 2 failed");
        std::lock_guard<std::mutex> guard(lock);
        ++finished;
    };
    EXPECT_THROW(RunSlices(100, 4, work), std::runtime_error);
    EXPECT_EQ(finished, 3u);
}

TEST(SliceCountFor, UsesOneSliceForSmallWalksAndNeverMoreThanFour) {
    EXPECT_EQ(SliceCountFor(0), 1u);
    EXPECT_EQ(SliceCountFor(10), 1u);
    EXPECT_GE(SliceCountFor(100000), 1u);
    EXPECT_LE(SliceCountFor(100000), 4u);
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

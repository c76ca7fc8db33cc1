#include "sysinfo/process_index.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vesperlin::sysinfo {
namespace {

struct Record {
    std::string name;
};

std::vector<ProcessId> WalkOrder(const ProcessIndex<Record>& index) {
    std::vector<ProcessId> order;
    index.Walk([&](ProcessId processId, const Record&) { order.push_back(processId); });
    return order;
}

TEST(ProcessIndex, WalksBucketsInOrderAndEachChainNewestFirst) {
    // 0, 4, 272 and 8 share bucket 0 (hash 0, 0, 17, 0); 300 is alone in bucket 1 (hash 18).
    std::vector<Record> records(5);
    ProcessIndex<Record> index;
    const ProcessId ids[] = {0, 4, 272, 300, 8};
    for (std::size_t i = 0; i < 5; ++i) index.Insert(ids[i], &records[i]);
    EXPECT_EQ(WalkOrder(index), (std::vector<ProcessId>{8, 272, 4, 0, 300}));
    EXPECT_EQ(index.Count(), 5u);
}

TEST(ProcessIndex, SpreadsIdentifiersOverAllSeventeenBuckets) {
    // Identifier 16 * b lands in bucket b for b < 17; inserted backwards, walked forwards.
    std::vector<Record> records(17);
    ProcessIndex<Record> index;
    for (int b = 16; b >= 0; --b) index.Insert(static_cast<ProcessId>(16 * b), &records[b]);
    std::vector<ProcessId> expected;
    for (ProcessId b = 0; b < 17; ++b) expected.push_back(16 * b);
    EXPECT_EQ(WalkOrder(index), expected);
}

TEST(ProcessIndex, ReplacesTheValueOfAKnownIdentifierWithoutMovingIt) {
    Record first{"first"}, second{"second"}, other{"other"};
    ProcessIndex<Record> index;
    index.Insert(4, &first);
    index.Insert(8, &other);
    index.Insert(4, &second);
    EXPECT_EQ(index.Count(), 2u);
    ASSERT_NE(index.Lookup(4), nullptr);
    EXPECT_EQ(index.Lookup(4)->name, "second");
    EXPECT_EQ(WalkOrder(index), (std::vector<ProcessId>{8, 4}));
}

TEST(ProcessIndex, LooksUpExactIdentifiersOnly) {
    Record a{"a"}, b{"b"};
    ProcessIndex<Record> index;
    index.Insert(272, &a);
    index.Insert(0xFFFFFFFF, &b);
    EXPECT_EQ(index.Lookup(272), &a);
    EXPECT_EQ(index.Lookup(0xFFFFFFFF), &b);
    EXPECT_EQ(index.Lookup(0), nullptr);    // same bucket as 272
    EXPECT_EQ(index.Lookup(273), nullptr);  // same hash as 272
}

TEST(ProcessIndex, ClearingForANewListForgetsEveryOldIdentifier) {
    std::vector<Record> firstList(3), secondList(2);
    ProcessIndex<Record> index;
    index.Insert(4, &firstList[0]);
    index.Insert(8, &firstList[1]);
    index.Insert(300, &firstList[2]);
    index.Clear();
    index.Insert(8, &secondList[0]);
    index.Insert(512, &secondList[1]);
    EXPECT_EQ(index.Count(), 2u);
    EXPECT_EQ(index.Lookup(4), nullptr);
    EXPECT_EQ(index.Lookup(300), nullptr);
    EXPECT_EQ(index.Lookup(8), &secondList[0]);
    EXPECT_EQ(WalkOrder(index), (std::vector<ProcessId>{8, 512}));
}

TEST(ProcessIndex, HandlesThousandsOfProcesses) {
    std::vector<Record> records(5000);
    ProcessIndex<Record> index;
    for (ProcessId i = 0; i < 5000; ++i) index.Insert(i * 4, &records[i]);
    EXPECT_EQ(index.Count(), 5000u);
    for (ProcessId i = 0; i < 5000; i += 97) EXPECT_EQ(index.Lookup(i * 4), &records[i]);
    EXPECT_EQ(WalkOrder(index).size(), 5000u);
}

}  // namespace
}  // namespace vesperlin::sysinfo

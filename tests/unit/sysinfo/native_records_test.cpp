#include "sysinfo/native_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vesperlin::sysinfo {
namespace {

// A reply as the platform would write it at `address`: fields are placed by offset.
struct Buffer {
    explicit Buffer(std::size_t size, std::uint64_t address = 0x7ff610000000)
        : bytes(size, 0xCC), address(address) {}

    template <typename Value>
    void Put(std::size_t offset, Value value) {
        std::memcpy(bytes.data() + offset, &value, sizeof(value));
    }
    // UTF-16 text at `offset`, without its NUL.
    void PutText(std::size_t offset, const std::u16string& text) {
        std::memcpy(bytes.data() + offset, text.data(), text.size() * 2);
    }
    // A counted string record at `offset` whose text starts at `textOffset` of this buffer.
    void PutCounted(std::size_t offset, std::uint16_t length, std::uint16_t maximumLength,
                    std::uint64_t textOffset) {
        Put<std::uint16_t>(offset, length);
        Put<std::uint16_t>(offset + 2, maximumLength);
        Put<std::uint64_t>(offset + 8, address + textOffset);
    }
    ByteSpan Span() const { return ByteSpan(bytes.data(), bytes.size()); }

    std::vector<std::uint8_t> bytes;
    std::uint64_t address;
};

std::string ReplyText(const Buffer& reply, std::size_t recordOffset = 0) {
    std::string text = "<unchanged>";
    if (!ReadReplyText(reply.Span(), reply.address, recordOffset, text)) return "<outside>";
    return text;
}

TEST(ReplyText, ReadsTheCountedTextThatFollowsTheRecordUpToItsNul) {
    Buffer reply(64);
    reply.PutCounted(0, 8, 10, 16);
    reply.PutText(16, u"File");
    EXPECT_EQ(ReplyText(reply), "File");
    // Length counts past a NUL: the text ends there.
    reply.PutCounted(0, 20, 20, 16);
    reply.PutText(16, std::u16string(u"Key\0xyzwv", 9));
    EXPECT_EQ(ReplyText(reply), "Key");
    // An odd offset, as a broken reply may give, is read all the same.
    reply.PutCounted(0, 6, 6, 17);
    reply.PutText(17, u"\u00e9t\u00e9");
    EXPECT_EQ(ReplyText(reply), "\xc3\xa9t\xc3\xa9");
}

TEST(ReplyText, RejectsTextThatDoesNotLieWhollyInsideTheReply) {
    Buffer reply(40);
    reply.PutCounted(0, 8, 8, 32);
    reply.PutText(32, u"Pipe");
    EXPECT_EQ(ReplyText(reply), "Pipe") << "the last byte is the reply's last";
    reply.PutCounted(0, 10, 10, 32);
    EXPECT_EQ(ReplyText(reply), "<outside>") << "one unit past the end";
    reply.Put<std::uint64_t>(8, reply.address - 2);
    EXPECT_EQ(ReplyText(reply), "<outside>") << "before the reply";
    reply.Put<std::uint64_t>(8, ~std::uint64_t{0});
    EXPECT_EQ(ReplyText(reply), "<outside>") << "an address that wraps around";
    EXPECT_EQ(ReplyText(Buffer(15)), "<outside>") << "no room for the record itself";
    EXPECT_EQ(ReplyText(reply, 30), "<outside>") << "a record that runs past the end";
}

TEST(ReplyText, EmptyTextNeedsNoAddress) {
    Buffer reply(16);
    reply.PutCounted(0, 0, 100, 0);
    reply.Put<std::uint64_t>(8, 0);
    EXPECT_EQ(ReplyText(reply), "");
    TextSpan text{5, 5};
    EXPECT_TRUE(LocateReplyText(reply.Span(), reply.address, 0, text));
    EXPECT_EQ(text.units, 0u);
}

// A process list of records of `recordSize` bytes, each named "p<id>" right after its record.
Buffer ProcessList(const std::vector<std::uint64_t>& ids, std::size_t recordSize = 320) {
    Buffer list(ids.size() * recordSize);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::size_t at = i * recordSize;
        const bool last = i + 1 == ids.size();
        list.Put<std::uint32_t>(at, last ? 0 : static_cast<std::uint32_t>(recordSize));
        list.Put<std::uint64_t>(at + kProcessIdOffset, ids[i]);
        const std::u16string name = u"p" + std::u16string(1, static_cast<char16_t>('0' + i));
        list.PutText(at + kProcessRecordSize, name + u'\0');
        list.PutCounted(at + kProcessImageNameOffset, static_cast<std::uint16_t>(name.size() * 2),
                        static_cast<std::uint16_t>(name.size() * 2 + 2), at + kProcessRecordSize);
    }
    return list;
}

std::vector<std::uint64_t> WalkedIds(const Buffer& list) {
    std::vector<std::uint64_t> ids;
    WalkProcessRecords(list.Span(), [&](std::size_t, std::uint64_t id) { ids.push_back(id); });
    return ids;
}

std::string ImageName(const Buffer& list, std::size_t recordOffset) {
    std::string name = "<unchanged>";
    if (!ReadProcessImageName(list.Span(), list.address, recordOffset, name))
        return name.empty() ? "<outside>" : "<outside, yet named>";
    return name;
}

TEST(ProcessRecords, WalksTheChainOfRecordsAndNamesEach) {
    const Buffer list = ProcessList({0, 4, 0x1ABCDEF01});
    EXPECT_EQ(WalkedIds(list), (std::vector<std::uint64_t>{0, 4, 0x1ABCDEF01}));
    std::vector<std::size_t> offsets;
    WalkProcessRecords(list.Span(), [&](std::size_t at, std::uint64_t) { offsets.push_back(at); });
    ASSERT_EQ(offsets.size(), 3u);
    EXPECT_EQ(ImageName(list, offsets[0]), "p0");
    EXPECT_EQ(ImageName(list, offsets[2]), "p2");
}

TEST(ProcessRecords, EndsTheWalkAtAnOffsetThatLeavesTheList) {
    Buffer list = ProcessList({4, 8, 12});
    list.Put<std::uint32_t>(320, 0x7FFFFFF0);
    EXPECT_EQ(WalkedIds(list), (std::vector<std::uint64_t>{4, 8}));
    // The next record would start inside but not fit whole.
    list.Put<std::uint32_t>(320, 400);
    EXPECT_EQ(WalkedIds(list), (std::vector<std::uint64_t>{4, 8}));
    EXPECT_TRUE(WalkedIds(Buffer(kProcessRecordSize - 1)).empty());
}

TEST(ProcessRecords, ImageNamesAreReadOnlyFromInsideTheList) {
    Buffer list = ProcessList({4, 8}, 300);
    const std::size_t second = 300;
    // No NUL within Length: the name runs on to its NUL, no further than MaximumLength.
    list.PutText(second + kProcessRecordSize, std::u16string(u"long\0", 5));
    list.PutCounted(second + kProcessImageNameOffset, 2, 10, second + kProcessRecordSize);
    EXPECT_EQ(ImageName(list, second), "long");
    list.PutCounted(second + kProcessImageNameOffset, 2, 6, second + kProcessRecordSize);
    EXPECT_EQ(ImageName(list, second), "lon");
    // A MaximumLength past the list's end is cut there.
    list.bytes.resize(second + kProcessRecordSize + 4);
    list.PutText(second + kProcessRecordSize, u"cd");
    list.PutCounted(second + kProcessImageNameOffset, 4, 60000, second + kProcessRecordSize);
    EXPECT_EQ(ImageName(list, second), "cd");
    // A name that starts, or runs, outside the list is not read at all.
    list.PutCounted(second + kProcessImageNameOffset, 6, 6, second + kProcessRecordSize);
    EXPECT_EQ(ImageName(list, second), "<outside>");
    list.Put<std::uint64_t>(second + kProcessImageNameOffset + 8, 0x1000);
    EXPECT_EQ(ImageName(list, second), "<outside>");
    // No name at all: the empty name.
    list.PutCounted(second + kProcessImageNameOffset, 0, 0, 0x5000);
    EXPECT_EQ(ImageName(list, second), "");
    list.PutCounted(second + kProcessImageNameOffset, 8, 8, 0);
    list.Put<std::uint64_t>(second + kProcessImageNameOffset + 8, 0);
    EXPECT_EQ(ImageName(list, second), "");
    EXPECT_EQ(ImageName(list, list.bytes.size() - 8), "<outside>") << "no record there";
}

TEST(HandleTable, CountsOnlyTheRowsTheReplyHoldsAndReadsThemAtFullWidth) {
    Buffer table(kHandleTableHeaderSize + 2 * kHandleTableRowSize + 39);
    table.Put<std::uint64_t>(0, 1000);
    const std::size_t row = kHandleTableHeaderSize + kHandleTableRowSize;
    table.Put<std::uint64_t>(row + 8, 0x123456789);
    table.Put<std::uint64_t>(row + 16, 0xFFFF0000ABCD);
    table.Put<std::uint32_t>(row + 24, 0x0012019F);
    table.Put<std::uint16_t>(row + 30, 37);
    std::size_t rows = 0;
    ASSERT_TRUE(CountHandleTableRows(table.Span(), rows));
    EXPECT_EQ(rows, 2u) << "a count past the reply ends at its last whole row";
    const HandleTableRow second = ReadHandleTableRow(table.Span(), 1);
    EXPECT_EQ(second.UniqueProcessId, 0x123456789u);
    EXPECT_EQ(second.HandleValue, 0xFFFF0000ABCDu);
    EXPECT_EQ(second.GrantedAccess, 0x0012019Fu);
    EXPECT_EQ(second.ObjectTypeIndex, 37u);

    table.Put<std::uint64_t>(0, 1);
    ASSERT_TRUE(CountHandleTableRows(table.Span(), rows));
    EXPECT_EQ(rows, 1u) << "fewer rows claimed than the reply could hold";
    EXPECT_FALSE(CountHandleTableRows(ByteSpan(table.bytes.data(), 15), rows));
    EXPECT_EQ(rows, 0u);
}

}  // namespace
}  // namespace vesperlin::sysinfo

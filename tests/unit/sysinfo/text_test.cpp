#include "sysinfo/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vesperlin::sysinfo {
namespace {

std::string Narrow(const char16_t* text) {
    std::string result = "stale";
    WideToNarrow(text, result);
    return result;
}

CountedText16 Counted(const char16_t* text, std::uint16_t lengthBytes, std::uint16_t maximumBytes) {
    CountedText16 record;
    record.Length = lengthBytes;
    record.MaximumLength = maximumBytes;
    record.Buffer = text;
    return record;
}

std::string NarrowCounted(const CountedText16& record) {
    std::string result = "stale";
    CountedWideToNarrow(record, result);
    return result;
}

TEST(WideToNarrow, GivesTheEmptyStringForNullText) {
    EXPECT_EQ(Narrow(nullptr), "");
}

TEST(WideToNarrow, KeepsLatinTextAndAccents) {
    EXPECT_EQ(Narrow(u"notepad.exe"), "notepad.exe");
    EXPECT_EQ(Narrow(u"caf\u00e9.txt"), "caf\xc3\xa9.txt");
}

TEST(WideToNarrow, ConvertsNonLatinTextToUtf8InsteadOfCuttingIt) {
    EXPECT_EQ(Narrow(u"\u0141\u00f3d\u017a"), "\xc5\x81\xc3\xb3\x64\xc5\xba");  // Łódź
    EXPECT_EQ(Narrow(u"\u4e2d\u6587"), "\xe4\xb8\xad\xe6\x96\x87");             // 中文
    EXPECT_EQ(Narrow(u"\u0444\u0430\u0439\u043b"), "\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb");
}

TEST(WideToNarrow, JoinsSurrogatePairsAndReplacesLoneHalves) {
    EXPECT_EQ(Narrow(u"a\U0001F600b"),
              "a\xf0\x9f\x98\x80"
              "b");
    const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
    const char16_t loneLow[] = {0xDE00, u'c', 0};
    const char16_t highAtEnd[] = {u'x', 0xD800, 0};
    EXPECT_EQ(Narrow(loneHigh),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(Narrow(loneLow),
              "\xef\xbf\xbd"
              "c");
    EXPECT_EQ(Narrow(highAtEnd), "x\xef\xbf\xbd");
}

TEST(CountedWideToNarrow, GivesTheEmptyStringForAnEmptyRecordWithoutReadingIt) {
    // A buffer that must not be touched: reading it would convert "boom".
    EXPECT_EQ(NarrowCounted(Counted(u"boom", 0, 0)), "");
    EXPECT_EQ(NarrowCounted(Counted(nullptr, 8, 10)), "");
}

TEST(CountedWideToNarrow, ReadsUpToTheNulNotUpToLength) {
    EXPECT_EQ(NarrowCounted(Counted(u"svchost.exe", 4, 24)), "svchost.exe");
    const char16_t withNul[] = {u'a', u'b', 0, u'c', u'd', 0};
    EXPECT_EQ(NarrowCounted(Counted(withNul, 10, 12)), "ab");
}

TEST(CountedWideToNarrow, StopsAtMaximumLengthWhenTheTextHasNoNul) {
    // Exactly as large as its MaximumLength, no NUL within: a sanitizer catches any overread.
    auto* unterminated = new char16_t[3]{u'\u4e2d', u'x', u'y'};
    EXPECT_EQ(NarrowCounted(Counted(unterminated, 6, 6)),
              "\xe4\xb8\xad"
              "xy");
    EXPECT_EQ(NarrowCounted(Counted(unterminated, 4, 4)),
              "\xe4\xb8\xad"
              "x");
    EXPECT_EQ(NarrowCounted(Counted(unterminated, 2, 3)), "\xe4\xb8\xad");  // odd byte count
    delete[] unterminated;
}

TEST(CountedWideToNarrow, DoesNotSplitAPairAtTheBoundIntoGarbage) {
    auto* pairThenMore = new char16_t[3]{u'a', 0xD83D, 0xDE00};
    EXPECT_EQ(NarrowCounted(Counted(pairThenMore, 6, 6)), "a\xf0\x9f\x98\x80");
    // Cut inside the pair: the high half alone is replaced, never emitted raw.
    EXPECT_EQ(NarrowCounted(Counted(pairThenMore, 4, 4)), "a\xef\xbf\xbd");
    delete[] pairThenMore;
}

TEST(CountedWideToNarrow, TrustsLengthWhenMaximumLengthIsSmaller) {
    auto* text = new char16_t[4]{u'a', u'b', u'c', u'd'};
    EXPECT_EQ(NarrowCounted(Counted(text, 8, 2)), "abcd");
    delete[] text;
}

}  // namespace
}  // namespace vesperlin::sysinfo

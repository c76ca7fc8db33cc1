#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vesperlin::base {
namespace {

using namespace std::string_literals;

const std::u16string kFffd = u"\uFFFD";

std::string Narrow(const std::u16string& text) {
    return Utf8FromUtf16(text.data(), text.size());
}

TEST(Utf8FromUtf16, ConvertsEveryEncodedLength) {
    EXPECT_EQ(Narrow(u"notepad.exe"), "notepad.exe");
    EXPECT_EQ(Narrow(u"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_EQ(Narrow(u"\u4e2d\u6587"), "\xe4\xb8\xad\xe6\x96\x87");
    EXPECT_EQ(Narrow(u"\U0001F600"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Narrow(u"\U0010FFFF"), "\xf4\x8f\xbf\xbf");
}

TEST(Utf8FromUtf16, ReplacesLoneSurrogatesWhereverTheyStand) {
    EXPECT_EQ(Narrow(u"a"s + char16_t(0xD83D) + u"b"),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(Narrow(char16_t(0xDE00) + u"c"s),
              "\xef\xbf\xbd"
              "c");
    EXPECT_EQ(Narrow(u"x"s + char16_t(0xD800)), "x\xef\xbf\xbd");
    // Two highs, then a low: the first high is alone, the second pairs.
    EXPECT_EQ(Narrow(std::u16string{0xD83D, 0xD83D, 0xDE00}), "\xef\xbf\xbd\xf0\x9f\x98\x80");
    // Low before high is two lone halves.
    EXPECT_EQ(Narrow(std::u16string{0xDE00, 0xD83D}), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(Utf8FromUtf16, ConvertsExactlyTheUnitsGivenNulsIncluded) {
    const std::u16string withNul{u'a', 0, u'b'};
    EXPECT_EQ(Narrow(withNul), "a\0b"s);
    EXPECT_EQ(Utf8FromUtf16(u"abc", 2), "ab");
    // Cut inside a pair: the high half alone is replaced, never emitted raw.
    const char16_t pair[] = {0xD83D, 0xDE00};
    EXPECT_EQ(Utf8FromUtf16(pair, 1), "\xef\xbf\xbd");
}

TEST(Utf8FromUtf16, GivesTheEmptyStringForNoText) {
    EXPECT_EQ(Utf8FromUtf16(nullptr, 5), "");
    EXPECT_EQ(Utf8FromUtf16(u"abc", 0), "");
}

TEST(Utf16FromUtf8, ConvertsEveryEncodedLength) {
    EXPECT_EQ(Utf16FromUtf8("notepad.exe"), u"notepad.exe");
    EXPECT_EQ(Utf16FromUtf8("caf\xc3\xa9"), u"caf\u00e9");
    EXPECT_EQ(Utf16FromUtf8("\xe4\xb8\xad"), u"\u4e2d");
    EXPECT_EQ(Utf16FromUtf8("\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(Utf16FromUtf8("\xf4\x8f\xbf\xbf"), u"\U0010FFFF");
    EXPECT_EQ(Utf16FromUtf8("\xef\xbf\xbf"), u"\uFFFF");  // a noncharacter is still valid
}

TEST(Utf16FromUtf8, RoundTripsEveryValidCodePointBothWays) {
    std::u16string all;
    for (char32_t code = 1; code <= 0x10FFFF; code += (code < 0x800 ? 1 : 97)) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        if (code < 0x10000) {
            all += static_cast<char16_t>(code);
        } else {
            all += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            all += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    const std::string narrow = Narrow(all);
    EXPECT_EQ(Utf16FromUtf8(narrow), all);
    EXPECT_EQ(Narrow(Utf16FromUtf8(narrow)), narrow);
}

TEST(Utf16FromUtf8, ReplacesStrayAndImpossibleBytesOneByOne) {
    EXPECT_EQ(Utf16FromUtf8("a\x80"
                            "b"),
              u"a\uFFFD"
              u"b");                                      // continuation alone
    EXPECT_EQ(Utf16FromUtf8("\xbf\xbf"), kFffd + kFffd);  // each stray one
    EXPECT_EQ(Utf16FromUtf8("\xc0\xaf"), kFffd + kFffd);  // C0, C1 never lead
    EXPECT_EQ(Utf16FromUtf8("\xc1\xbf"), kFffd + kFffd);
    EXPECT_EQ(Utf16FromUtf8("\xf5\x80\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // past U+10FFFF
    EXPECT_EQ(Utf16FromUtf8("\xfe\xff"), kFffd + kFffd);
}

TEST(Utf16FromUtf8, ReplacesOverlongFormsSurrogatesAndTooLargeCodePoints) {
    // The second byte rules them out: the lead and that byte are one replacement, as the
    // platform has it, and each byte after them another.
    EXPECT_EQ(Utf16FromUtf8("\xe0\x80\xaf"), kFffd + kFffd);  // overlong '/'
    EXPECT_EQ(Utf16FromUtf8("\xf0\x80\x80\xaf"), kFffd + kFffd + kFffd);
    EXPECT_EQ(Utf16FromUtf8("\xed\xa0\x80"), kFffd + kFffd);              // U+D800
    EXPECT_EQ(Utf16FromUtf8("\xed\xbf\xbf"), kFffd + kFffd);              // U+DFFF
    EXPECT_EQ(Utf16FromUtf8("\xf4\x90\x80\x80"), kFffd + kFffd + kFffd);  // U+110000
    EXPECT_EQ(Utf16FromUtf8("\xe0\x80"
                            "a"),
              kFffd + u"a");
    // Just inside each bound stays valid.
    EXPECT_EQ(Utf16FromUtf8("\xe0\xa0\x80"), u"\u0800");
    EXPECT_EQ(Utf16FromUtf8("\xed\x9f\xbf"), u"\uD7FF");
    EXPECT_EQ(Utf16FromUtf8("\xee\x80\x80"), u"\uE000");
    EXPECT_EQ(Utf16FromUtf8("\xf0\x90\x80\x80"), u"\U00010000");
}

TEST(Utf16FromUtf8, ReplacesATruncatedSequenceOnceAndKeepsWhatFollows) {
    EXPECT_EQ(Utf16FromUtf8("\xe4\xb8"), kFffd);  // cut at the end
    EXPECT_EQ(Utf16FromUtf8("\xf0\x9f\x98"), kFffd);
    EXPECT_EQ(Utf16FromUtf8("\xc3"), kFffd);
    EXPECT_EQ(Utf16FromUtf8("\xe4\xb8"
                            "a"),
              kFffd + u"a");                                          // cut by an ASCII byte
    EXPECT_EQ(Utf16FromUtf8("\xf0\x9f\xc3\xa9"), kFffd + u"\u00e9");  // cut by a new lead
    EXPECT_EQ(Utf16FromUtf8("\xe4\xe4\xb8\xad"), kFffd + u"\u4e2d");
}

TEST(Utf16FromUtf8, KeepsEmbeddedNulsAndGivesNothingForNothing) {
    EXPECT_EQ(Utf16FromUtf8("a\0b"s), (std::u16string{u'a', 0, u'b'}));
    EXPECT_EQ(Utf16FromUtf8(""), u"");
    EXPECT_EQ(Narrow(u""), "");
}

}  // namespace
}  // namespace vesperlin::base

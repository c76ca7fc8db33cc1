#include "base/win32/wide_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace vesperlin::base {
namespace {

using namespace std::string_literals;

std::string PlatformNarrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int count = static_cast<int>(wide.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring PlatformWide(const std::string& narrow) {
    if (narrow.empty()) return std::wstring();
    const int count = static_cast<int>(narrow.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, narrow.data(), count, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, narrow.data(), count, out.data(), units);
    return out;
}

// Each as a readable list of code units, so that a mismatch shows where.
std::vector<unsigned> Units(const std::wstring& text) {
    return std::vector<unsigned>(text.begin(), text.end());
}
std::vector<unsigned> Bytes(const std::string& text) {
    std::vector<unsigned> bytes;
    for (char c : text) bytes.push_back(static_cast<unsigned char>(c));
    return bytes;
}

TEST(WideText, NarrowsAsThePlatformDoesForValidAndBrokenWideText) {
    const std::vector<std::wstring> samples = {
        L"notepad.exe",
        L"C:\\Users\\\u0141\u00f3d\u017a\\\u4e2d\u6587.txt",
        L"a\U0001F600b",
        L"\U0010FFFF\uFFFF\uFFFE",
        L"a"s + wchar_t(0xD83D) + L"b",  // lone high
        wchar_t(0xDE00) + L"c"s,         // lone low
        L"x"s + wchar_t(0xD800),         // high at the end
        std::wstring{0xDE00, 0xD83D},    // halves in the wrong order
        std::wstring{0xD83D, 0xD83D, 0xDE00},
        L"a"s + L'\0' + L"b",
    };
    for (const std::wstring& sample : samples) {
        SCOPED_TRACE(::testing::PrintToString(Units(sample)));
        EXPECT_EQ(Bytes(NarrowFromWide(sample)), Bytes(PlatformNarrow(sample)));
    }
}

TEST(WideText, WidensAsThePlatformDoesForValidAndBrokenUtf8) {
    const std::vector<std::string> samples = {
        "notepad.exe",
        "C:\\Users\\\xc5\x81\xc3\xb3\x64\xc5\xba\\\xe4\xb8\xad.txt",
        "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\xef\xbf\xbf",
        "a\x80"
        "b",             // stray continuation
        "\xbf\xbf\xbf",  // several
        "\xc0\xaf",      // overlong '/' in two bytes
        "\xc1\xbf",
        "\xe0\x80\xaf",      // in three
        "\xf0\x80\x80\xaf",  // in four
        "\xed\xa0\x80",      // an encoded surrogate
        "\xed\xbf\xbf",
        "\xf4\x90\x80\x80",  // past U+10FFFF
        "\xf5\x80\x80\x80",
        "\xf8\x88\x80\x80\x80",  // old five-byte form
        "\xfe\xff",
        "\xe4\xb8",  // truncated at the end
        "\xf0\x9f\x98",
        "\xe4\xb8"
        "a",                 // cut by ASCII
        "\xf0\x9f\xc3\xa9",  // cut by a new lead
        "\xe4\xe4\xb8\xad",
        "a\0b"s,
    };
    for (const std::string& sample : samples) {
        SCOPED_TRACE(::testing::PrintToString(Bytes(sample)));
        EXPECT_EQ(Units(WideFromNarrow(sample)), Units(PlatformWide(sample)));
    }
}

TEST(WideText, NarrowsNullAsEmptyAndStopsATerminatedStringAtItsNul) {
    EXPECT_EQ(NarrowFromWide(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(NarrowFromWide(L"caf\u00e9"), "caf\xc3\xa9");
}

TEST(SystemMessage, GivesTheSystemsTextWithoutItsLineEndOrFullStop) {
    const std::string message = SystemMessage(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(message.empty());
    EXPECT_NE(message.back(), '\n');
    EXPECT_NE(message.back(), '.');
    EXPECT_EQ(message.find("error "), std::string::npos);
}

TEST(SystemMessage, NamesTheCodeWhenTheSystemHasNoText) {
    EXPECT_EQ(SystemMessage(0x2000FFFF), "error 536936447");
}

}  // namespace
}  // namespace vesperlin::base

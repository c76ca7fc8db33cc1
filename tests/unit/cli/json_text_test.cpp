#include <gtest/gtest.h>

#include "cli/json_text.h"

using namespace vesperlin::cli;

using vesperlin::cli::JsonString;

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(JsonString("C:\\dir\\\"x\".txt"), "\"C:\\\\dir\\\\\\\"x\\\".txt\"");
    EXPECT_EQ(JsonString("a\nb\tc\rd\be\ff"), "\"a\\nb\\tc\\rd\\be\\ff\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1F\x7F", 3)), "\"\\u0001\\u001F\\u007F\"");
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(JsonString(""), "\"\"");
}

TEST(JsonString, PassesUtf8ThroughAndReplacesInvalidBytes) {
    EXPECT_EQ(JsonString("Pr\xC3\xBC"
                         "fung-\xE4\xB8\xAD.txt"),
              "\"Pr\xC3\xBC"
              "fung-\xE4\xB8\xAD.txt\"");
    EXPECT_EQ(JsonString("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");
    // A Latin-1 byte, a cut sequence, an overlong slash and an encoded surrogate.
    EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\uFFFD\"");
    EXPECT_EQ(JsonString("\xE4\xB8"), "\"\\uFFFD\\uFFFD\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\uFFFD\\uFFFD\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\uFFFD\\uFFFD\\uFFFD\"");
}

#include "app/language_name.h"

#include <gtest/gtest.h>

namespace vesperlin::app {
namespace {

TEST(LanguageLibraryName, CarriesTheWholeIdentifierInLowerCaseHex) {
    EXPECT_EQ(LanguageLibraryName(0x0407), "Vesperlin407.dll");  // German (Germany)
    EXPECT_EQ(LanguageLibraryName(0x040C), "Vesperlin40c.dll");  // French (France)
    EXPECT_EQ(LanguageLibraryName(0x0809), "Vesperlin809.dll");  // English (United Kingdom)
}

TEST(LanguageLibraryName, HasAtLeastTwoDigitsAndNoMoreLeadingZeros) {
    EXPECT_EQ(LanguageLibraryName(0x0007), "Vesperlin07.dll");  // neutral German
    EXPECT_EQ(LanguageLibraryName(0x0000), "Vesperlin00.dll");
    EXPECT_EQ(LanguageLibraryName(0xFFFF), "Vesperlinffff.dll");
    EXPECT_EQ(LanguageLibraryName(0x1004), "Vesperlin1004.dll");  // Chinese (Singapore)
}

}  // namespace
}  // namespace vesperlin::app

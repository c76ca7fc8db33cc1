#include <gtest/gtest.h>

#include "query/result_line.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::query;

TEST(FormatResultLine, PadsToFourHexDigitsAndKeepsLongerIdentifiers) {
    EXPECT_EQ(FormatResultLine(4, "System"), "0x0004  System");
    EXPECT_EQ(FormatResultLine(0xabc, "a.exe"), "0x0ABC  a.exe");
    EXPECT_EQ(FormatResultLine(0x1F2A3, "b.exe"), "0x1F2A3  b.exe");
    EXPECT_EQ(FormatResultLine(0xFFFFFFFFu, ""), "0xFFFFFFFF  ");
}

TEST(FormatResultLine, CutsLongLinesTo255BytesWithoutSplittingACharacter) {
    const std::string ascii = FormatResultLine(1, std::string(300, 'x'));
    EXPECT_EQ(ascii.size(), 255u);
    EXPECT_EQ(ascii, "0x0001  " + std::string(247, 'x'));

    // 246 ASCII bytes after the prefix leave one byte: not enough for a two-byte "ü".
    const std::string umlaut = FormatResultLine(1, std::string(246, 'y') + "\xC3\xBC" + "z");
    EXPECT_EQ(umlaut, "0x0001  " + std::string(246, 'y'));
    // Exactly fitting: kept whole.
    const std::string fits = FormatResultLine(1, std::string(245, 'y') + "\xC3\xBC" + "z");
    EXPECT_EQ(fits.size(), 255u);
    EXPECT_EQ(fits.substr(253), "\xC3\xBC");
}

TEST(AddResultLine, AddsAtTheEndAndSkipsExactDuplicatesOnly) {
    VectorResultList list;
    EXPECT_TRUE(AddResultLine(list, 0x10, "b.exe"));
    EXPECT_TRUE(AddResultLine(list, 0x08, "a.exe"));
    EXPECT_FALSE(AddResultLine(list, 0x10, "b.exe"));
    EXPECT_TRUE(AddResultLine(list, 0x10, "B.exe"));  // case differs: both stay
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"0x0010  b.exe", "0x0008  a.exe", "0x0010  B.exe"}));
}

TEST(AddResultLine, TreatsALineEqualToACutOneAsADuplicate) {
    VectorResultList list;
    AddResultLine(list, 7, std::string(300, 'q'));
    EXPECT_FALSE(AddResultLine(list, 7, std::string(280, 'q') + "different tail"));
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Line(0).size(), 255u);
}

TEST(AddResultLine, ComparesWithLinesAddedByOthersToo) {
    VectorResultList list;
    list.Add("0x0001  a.exe");  // e.g. a line that came in unchanged
    EXPECT_FALSE(AddResultLine(list, 1, "a.exe"));
    EXPECT_EQ(list.Count(), 1u);
}

namespace {
// A list that can only count, read and add, as the desktop's list box can.
class ReadOnlyLookupList : public ResultList {
  public:
    std::size_t Count() const override { return lines.size(); }
    std::string Line(std::size_t index) const override { return lines.at(index); }
    void Add(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};
}  // namespace

TEST(AddResultLine, FindsDuplicatesByReadingEveryLineWhenTheListCannotLookUp) {
    ReadOnlyLookupList list;
    list.lines = {"0x0001  a.exe", "0x0002  b.exe", "0x0003  c.exe"};
    EXPECT_FALSE(AddResultLine(list, 3, "c.exe"));  // the last line, found by the scan
    EXPECT_TRUE(AddResultLine(list, 3, "C.exe"));
    EXPECT_EQ(list.lines.size(), 4u);
}

TEST(FormatNotUsedLine, SubstitutesOnlyTheFirstStringPlaceholder) {
    EXPECT_EQ(FormatNotUsedLine("%s is not used.", "report.txt"), "report.txt is not used.");
    EXPECT_EQ(FormatNotUsedLine("%s wird nicht benutzt.", "a.txt"), "a.txt wird nicht benutzt.");
    // A translated text with other conversions must not be read as a printf format.
    EXPECT_EQ(FormatNotUsedLine("%d %n %s %s 100%%", "x"), "%d %n x %s 100%");
    EXPECT_EQ(FormatNotUsedLine("no placeholder", "x"), "no placeholder");
    EXPECT_EQ(FormatNotUsedLine("%s", "%s%n"), "%s%n");
    EXPECT_EQ(FormatNotUsedLine("trailing %", "x"), "trailing %");
}

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/out_of_memory.h"

namespace vesperlin::app {
namespace {

std::vector<std::string> Split(const char* line, const ArgSplitRules& rules = kStartupSplitRules) {
    CommandLineArgs args;
    const int count = args.SplitCommandLine(line, rules);
    EXPECT_EQ(count, args.Count());
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.emplace_back(args.Args()[i]);
    if (count > 0 || line != nullptr) {
        EXPECT_NE(args.Args(), nullptr);
        if (args.Args()) {
            EXPECT_EQ(args.Args()[count], nullptr) << "pointer array not ended";
        }
    }
    return result;
}

// What the program makes of its own command line: the last argument after the program.
std::string InitialPath(const char* line) {
    CommandLineArgs args;
    std::string path;
    for (int i = 1; i < args.SplitCommandLine(line, kStartupSplitRules); ++i) path = args.Arg(i);
    return path;
}

using Args = std::vector<std::string>;

TEST(SplitCommandLine, QuotedProgramAndQuotedPathWithSpace) {
    const char* line = "\"C:\\Tools\\app.exe\" \"C:\\My Files\\a.txt\"";
    EXPECT_EQ(Split(line), (Args{"C:\\Tools\\app.exe", "C:\\My Files\\a.txt"}));
    EXPECT_EQ(InitialPath(line), "C:\\My Files\\a.txt");
}

TEST(SplitCommandLine, UnquotedSpaceSplitsThePath) {
    const char* line = "app.exe C:\\My Files\\a.txt";
    EXPECT_EQ(Split(line), (Args{"app.exe", "C:\\My", "Files\\a.txt"}));
    EXPECT_EQ(InitialPath(line), "Files\\a.txt");
}

TEST(SplitCommandLine, LastOfSeveralArgumentsIsTheInitialPath) {
    EXPECT_EQ(Split("app.exe a.txt b.txt"), (Args{"app.exe", "a.txt", "b.txt"}));
    EXPECT_EQ(InitialPath("app.exe a.txt b.txt"), "b.txt");
}

TEST(SplitCommandLine, BackslashBeforeClosingQuoteIsKept) {
    EXPECT_EQ(Split("app.exe \"C:\\dir\\\""), (Args{"app.exe", "C:\\dir\\"}));
    EXPECT_EQ(InitialPath("app.exe \"C:\\dir\\\""), "C:\\dir\\");
    // The stretch really closed: what follows is a new argument.
    EXPECT_EQ(Split("app.exe \"C:\\dir\\\" next"), (Args{"app.exe", "C:\\dir\\", "next"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsOneLiteralQuoteAndEndsTheStretch) {
    EXPECT_EQ(Split("app.exe \"a\"\"b\""), (Args{"app.exe", "a\"b"}));
    EXPECT_EQ(InitialPath("app.exe \"a\"\"b\""), "a\"b");
    // Ended the stretch: a space after it separates again.
    EXPECT_EQ(Split("app.exe \"a\"\" b\""), (Args{"app.exe", "a\"", "b"}));
}

TEST(SplitCommandLine, TrailingSpacesAddNoEmptyArgument) {
    EXPECT_EQ(Split("app.exe a.txt   "), (Args{"app.exe", "a.txt"}));
    EXPECT_EQ(InitialPath("app.exe a.txt   "), "a.txt");
}

TEST(SplitCommandLine, TabDoesNotSeparate) {
    EXPECT_EQ(Split("app.exe\ta.txt"), (Args{"app.exe\ta.txt"}));
    EXPECT_EQ(InitialPath("app.exe\ta.txt"), "");
}

TEST(SplitCommandLine, LeadingSpacesGiveOneEmptyFirstArgument) {
    EXPECT_EQ(Split("  app.exe"), (Args{"", "app.exe"}));
    EXPECT_EQ(InitialPath("  app.exe"), "app.exe");
}

TEST(SplitCommandLine, EmptyLineGivesNoArgumentsButAnEndedArray) {
    CommandLineArgs args;
    EXPECT_EQ(args.SplitCommandLine("", kStartupSplitRules), 0);
    ASSERT_NE(args.Args(), nullptr);
    EXPECT_EQ(args.Args()[0], nullptr);
    EXPECT_EQ(args.Arg(0), nullptr);
}

TEST(SplitCommandLine, NullLineLeavesTheObjectEmpty) {
    CommandLineArgs args;
    ASSERT_EQ(args.SplitCommandLine("a b", kStartupSplitRules), 2);
    EXPECT_EQ(args.SplitCommandLine(nullptr, kStartupSplitRules), 0);
    EXPECT_EQ(args.Args(), nullptr);
    EXPECT_EQ(args.Count(), 0);
}

TEST(SplitCommandLine, SplittingAgainReplacesTheEarlierArguments) {
    CommandLineArgs args;
    ASSERT_EQ(args.SplitCommandLine("one two three", kStartupSplitRules), 3);
    ASSERT_EQ(args.SplitCommandLine("four", kStartupSplitRules), 1);
    EXPECT_STREQ(args.Arg(0), "four");
    EXPECT_EQ(args.Arg(1), nullptr);
}

TEST(SplitCommandLine, QuotesInTheMiddleGroupAndVanish) {
    EXPECT_EQ(Split("app.exe C:\\\"My Files\"\\a.txt"), (Args{"app.exe", "C:\\My Files\\a.txt"}));
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(Split("app.exe \"C:\\My Files"), (Args{"app.exe", "C:\\My Files"}));
    // An empty quoted stretch is an empty argument.
    EXPECT_EQ(Split("app.exe \"\" x"), (Args{"app.exe", "", "x"}));
}

TEST(SplitCommandLine, LoneQuoteIsNotAnOpeningQuoteButStillVanishes) {
    EXPECT_EQ(Split("\""), (Args{""}));
    EXPECT_EQ(Split("\"a"), (Args{"a"}));
}

TEST(SplitCommandLine, KeepQuotesCopiesTheQuotesThatOpenAndClose) {
    ArgSplitRules rules = kStartupSplitRules;
    rules.keepQuotes = 1;
    EXPECT_EQ(Split("app.exe \"a b\" c", rules), (Args{"app.exe", "\"a b\"", "c"}));
    // The quote that opens the line is skipped, as the procedure says, the closing one kept.
    EXPECT_EQ(Split("\"a b\" c", rules), (Args{"a b\"", "c"}));
    // A doubled quote inside quotes is still one literal quote.
    EXPECT_EQ(Split("x \"a\"\"b\"", rules), (Args{"x", "\"a\"b\""}));
}

TEST(SplitCommandLine, EscapeRunsBeforeAQuoteAreHalved) {
    ArgSplitRules rules = kStartupSplitRules;
    rules.escape = '\\';
    // Odd run: escaped literal quote, quoted state unchanged.
    EXPECT_EQ(Split("a \\\"b c", rules), (Args{"a", "\"b", "c"}));
    // Even run: half the backslashes, then a quote that opens a stretch.
    EXPECT_EQ(Split("a \\\\\"b c\"", rules), (Args{"a", "\\b c"}));
    // Three: one backslash and a literal quote.
    EXPECT_EQ(Split("a \\\\\\\"b", rules), (Args{"a", "\\\"b"}));
    // Not before a quote: the whole run stays.
    EXPECT_EQ(Split("a C:\\\\dir\\\\ b", rules), (Args{"a", "C:\\\\dir\\\\", "b"}));
    // A run at the very end is written whole.
    EXPECT_EQ(Split("a b\\\\", rules), (Args{"a", "b\\\\"}));
}

TEST(SplitCommandLine, WithoutCollapsingEverySeparatorEndsAnArgument) {
    ArgSplitRules rules = kStartupSplitRules;
    rules.collapseSeparators = 0;
    EXPECT_EQ(Split("a  b", rules), (Args{"a", "", "b"}));
}

TEST(SplitCommandLine, TrailingEmptyArgumentWhenAsked) {
    ArgSplitRules rules = kStartupSplitRules;
    rules.noTrailingEmpty = 0;
    EXPECT_EQ(Split("a b   ", rules), (Args{"a", "b", ""}));
    EXPECT_EQ(Split("a b", rules), (Args{"a", "b"}));
    rules.collapseSeparators = 0;
    EXPECT_EQ(Split("a ", rules), (Args{"a", ""}));
}

TEST(SplitCommandLine, OtherSeparatorAndNoQuoting) {
    ArgSplitRules rules{',', 0, 0, 1, 1, 0};
    EXPECT_EQ(Split("a b,\"c,d\",,e", rules), (Args{"a b", "\"c", "d\"", "e"}));
    rules.separator = '\t';
    rules.quote = '"';
    EXPECT_EQ(Split("app.exe\t\"my file\"", rules), (Args{"app.exe", "my file"}));
}

TEST(SplitCommandLine, ArgumentsLiveInOneBlockBehindThePointerArray) {
    CommandLineArgs args;
    ASSERT_EQ(args.SplitCommandLine("app.exe a.txt bb", kStartupSplitRules), 3);
    const char* front = reinterpret_cast<const char*>(args.Args());
    // Four pointer slots (three arguments and the null), then the texts one after another.
    EXPECT_EQ(args.Arg(0), front + 4 * sizeof(char*));
    EXPECT_EQ(args.Arg(1), args.Arg(0) + sizeof("app.exe"));
    EXPECT_EQ(args.Arg(2), args.Arg(1) + sizeof("a.txt"));
}

TEST(SplitCommandLine, LongLinesSplitWhole) {
    std::string line = "app.exe";
    std::string expectedLast;
    for (int i = 0; i < 2000; ++i) {
        expectedLast = "argument" + std::to_string(i);
        line += " " + expectedLast;
    }
    const Args args = Split(line.c_str());
    ASSERT_EQ(args.size(), 2001u);
    EXPECT_EQ(args.back(), expectedLast);
}

TEST(SplitCommandLine, OutOfMemoryLeavesTheObjectEmptyAndSaysSo) {
    CommandLineArgs args;
    ASSERT_EQ(args.SplitCommandLine("app.exe old", kStartupSplitRules), 2);
    CommandLineArgs::SetBlockLimitForTesting(16);
    ClearLastFailure();
    const int count = args.SplitCommandLine("app.exe a.txt", kStartupSplitRules);
    const bool saysOutOfMemory = LastFailureIsOutOfMemory();
    CommandLineArgs::SetBlockLimitForTesting(static_cast<std::size_t>(-1));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(saysOutOfMemory);
    EXPECT_EQ(args.Args(), nullptr);
    EXPECT_EQ(args.Count(), 0);
}

}  // namespace
}  // namespace vesperlin::app

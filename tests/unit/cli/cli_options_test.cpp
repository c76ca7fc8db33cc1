#include <gtest/gtest.h>

#include <cctype>

#include "cli/cli_options.h"

using namespace vesperlin::cli;

using Args = std::vector<std::string>;

TEST(ParseCliArguments, KeepsPathsInOrderBetweenOptions) {
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliArguments({"a.txt", "--json", "C:\\b", "-"}, options, error));
    EXPECT_EQ(options.output, CliOutput::Json);
    EXPECT_EQ(options.paths, (Args{"a.txt", "C:\\b", "-"}));
}

TEST(ParseCliArguments, TakesEverythingAfterDoubleDashAsAPath) {
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliArguments({"--", "--json", "--", "-x"}, options, error));
    EXPECT_EQ(options.output, CliOutput::Lines);
    EXPECT_EQ(options.paths, (Args{"--json", "--", "-x"}));
}

TEST(ParseCliArguments, RejectsUnknownOptionsAndAMissingPath) {
    CliOptions options;
    std::string error;
    EXPECT_FALSE(ParseCliArguments({"--jsn", "a.txt"}, options, error));
    EXPECT_NE(error.find("--jsn"), std::string::npos);
    EXPECT_FALSE(ParseCliArguments({"-j", "a.txt"}, options, error));
    EXPECT_FALSE(ParseCliArguments({"-pl", "a.txt"}, options, error));
    EXPECT_FALSE(ParseCliArguments({"-r", "--mount", "a"}, options, error));
    EXPECT_FALSE(ParseCliArguments({}, options, error));
    EXPECT_EQ(error, "no path given");
    EXPECT_FALSE(ParseCliArguments({"--json", "--"}, options, error));
}

TEST(ParseCliArguments, NeedsNoPathForHelpOrVersion) {
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliArguments({"--version"}, options, error));
    EXPECT_TRUE(options.version);
    ASSERT_TRUE(ParseCliArguments({"-h"}, options, error));
    EXPECT_TRUE(options.help);
    EXPECT_FALSE(options.version);  // nothing carries over from an earlier parse
}

TEST(ParseCliArguments, TakesShortOptionsTogetherAndAWaitTimeOut) {
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliArguments({"-rl", "--wait-free=2.5", "a"}, options, error)) << error;
    EXPECT_TRUE(options.recursive);
    EXPECT_EQ(options.output, CliOutput::Long);
    EXPECT_TRUE(options.waitFree);
    EXPECT_DOUBLE_EQ(options.waitSeconds, 2.5);
    for (const char* bad : {"--wait-free=", "--wait-free=-1", "--wait-free=1e3", "--wait-free=x"}) {
        EXPECT_FALSE(ParseCliArguments({bad, "a"}, options, error)) << bad;
        EXPECT_NE(error.find("--wait-free"), std::string::npos);
    }
}

#ifdef VESPERLIN_MAN_PAGE
#include <fstream>
#include <iterator>
#include <set>

namespace {

// Every "--name" of a text; roff writes each dash of the man page as "\-".
std::set<std::string> LongOptions(std::string text) {
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);
    std::set<std::string> names;
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-'))
            ++end;
        if (end > at + 2) names.insert(text.substr(at, end - at));
    }
    return names;
}

}  // namespace

TEST(CliUsageText, NamesTheSameOptionsAsTheManualPage) {
    std::ifstream page(VESPERLIN_MAN_PAGE);
    ASSERT_TRUE(page) << VESPERLIN_MAN_PAGE;
    const std::string manual((std::istreambuf_iterator<char>(page)), {});
    const std::set<std::string> help = LongOptions(CliUsageText());
    EXPECT_EQ(help, (std::set<std::string>{"--help", "--json", "--long", "--mount", "--pids",
                                           "--recursive", "--version", "--wait-free"}));
    EXPECT_EQ(LongOptions(manual), help);
}
#endif

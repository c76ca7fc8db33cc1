// SplitCommandLine on any line and any rules. Input: a first byte that is even for the rules the
// program splits its own command line with; when odd, six bytes of rules follow. The rest is
// the line (up to its first NUL, as a C string ends).
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_support.h"

using namespace vesperlin::app;

using vesperlin::app::ArgSplitRules;
using vesperlin::app::CommandLineArgs;
using vesperlin::fuzz::FuzzInput;

namespace {

std::vector<std::string> Arguments(const CommandLineArgs& args) {
    std::vector<std::string> out;
    for (int i = 0; i < args.Count(); ++i) out.emplace_back(args.Arg(i));
    return out;
}

// Without quoting and escaping, splitting is only cutting at the separator.
std::vector<std::string> CutAtSeparators(const std::string& line, const ArgSplitRules& rules) {
    std::vector<std::string> pieces;
    if (line.empty()) return pieces;
    std::string piece;
    bool endedOnSeparator = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        endedOnSeparator = false;
        if (rules.separator == '\0' || line[i] != rules.separator) {
            piece += line[i];
            continue;
        }
        pieces.push_back(piece);
        piece.clear();
        if (rules.collapseSeparators) {
            while (i + 1 < line.size() && line[i + 1] == rules.separator) ++i;
        }
        endedOnSeparator = true;
    }
    if (!endedOnSeparator || !rules.noTrailingEmpty) pieces.push_back(piece);
    return pieces;
}

// Whether `part` can be had from `whole` by leaving characters out.
bool IsSubsequence(const std::string& part, const std::string& whole) {
    std::size_t at = 0;
    for (char c : whole) {
        if (at < part.size() && part[at] == c) ++at;
    }
    return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    ArgSplitRules rules = vesperlin::app::kStartupSplitRules;
    if (input.Byte() % 2 == 1) {
        rules.separator = static_cast<char>(input.Byte());
        rules.quote = static_cast<char>(input.Byte());
        rules.escape = static_cast<char>(input.Byte());
        rules.collapseSeparators = input.Byte() % 2;
        rules.noTrailingEmpty = input.Byte() % 2;
        rules.keepQuotes = input.Byte() % 2;
    }
    const std::string bytes(input.Rest());
    const std::string line(bytes.c_str());

    CommandLineArgs args;
    const int count = args.SplitCommandLine(bytes.c_str(), rules);
    FUZZ_CHECK(count == args.Count() && count >= 0);
    FUZZ_CHECK(args.Args() != nullptr && args.Args()[count] == nullptr);
    FUZZ_CHECK(args.Arg(-1) == nullptr && args.Arg(count) == nullptr);
    const std::vector<std::string> split = Arguments(args);
    std::string joined;
    for (const std::string& argument : split) joined += argument;
    // Quotes, escapes and separators are only ever taken away, never added or moved.
    FUZZ_CHECK(IsSubsequence(joined, line));
    FUZZ_CHECK(line.empty() == (count == 0));
    if (rules.quote == '\0' && rules.escape == '\0')
        FUZZ_CHECK(split == CutAtSeparators(line, rules));

    // Splitting again replaces what the object held and gives the same arguments.
    FUZZ_CHECK(args.SplitCommandLine(bytes.c_str(), rules) == count);
    FUZZ_CHECK(Arguments(args) == split);
    args.Clear();
    FUZZ_CHECK(args.Count() == 0 && args.Args() == nullptr);
    return 0;
}

// The /proc texts read for a process's details: the "Uid:" line of its status file and its
// NUL-separated command line, from any text: both parsers see the same input.
#include <sys/types.h>

#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "sysinfo/procfs/process_details.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::procfs;

namespace {

void CheckStatus(std::string_view text) {
    uid_t uid = 0;
    if (!ParseStatusUid(text, uid)) return;
    // The value came from a "Uid:" line, written in decimal after its blanks.
    const std::size_t line = text.starts_with("Uid:") ? 0 : text.find("\nUid:");
    FUZZ_CHECK(line != std::string_view::npos);
    std::string_view rest = text.substr(line == 0 && text.starts_with("Uid:") ? 4 : line + 5);
    while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
    // The digits read are the id's, with leading zeros allowed.
    while (rest.size() > 1 && rest[0] == '0' && rest[1] >= '0' && rest[1] <= '9')
        rest.remove_prefix(1);
    FUZZ_CHECK(rest.starts_with(std::to_string(uid)));
}

void CheckCommandLine(std::string_view text) {
    const std::string joined = JoinCommandLine(text);
    // One blank per separator, nothing else changed, and never a NUL left.
    FUZZ_CHECK(joined.find('\0') == std::string::npos);
    const std::size_t expected =
        !text.empty() && text.back() == '\0' ? text.size() - 1 : text.size();
    FUZZ_CHECK(joined.size() == expected);
    for (std::size_t i = 0; i < joined.size(); ++i)
        FUZZ_CHECK(joined[i] == (text[i] == '\0' ? ' ' : text[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckStatus(text);
    CheckCommandLine(text);
    return 0;
}

#pragma once
// The console program's output forms, from the answers of one invocation.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "query/invocation_query.h"
#include "sysinfo/system.h"

namespace vesperlin::cli {

// A name as a terminal may show it: control characters as \n, \t, \r, \e or \xHH and every
// byte outside valid UTF-8 as \xHH; nothing else changes. Backslashes stay single: they are
// the Windows separator, and a doubled one in every path would help no reader.
std::string EscapeForText(const std::string& text);

// How a hit uses its file, in a few letters: "exe", "module", "mapped", "fd 3 rw",
// "handle 0x1A4 r", "cwd", "root".
std::string UseText(const sysinfo::FileUse& use);

// What the output forms know besides the answers: the details of every process named, and
// how many hits were left out because their process ended before it could be named.
struct CliReport {
    std::map<sysinfo::ProcessId, sysinfo::ProcessDetails> details;
    std::size_t exitedProcesses = 0;
    std::size_t inaccessibleProcesses = 0;
};

// The processes that ended before they could be named, each once over all answers.
std::size_t CountExited(const std::vector<query::QueryAnswer>& answers);

// Whether any answer has a hit whose process could be named.
bool AnyNamedHit(const std::vector<query::QueryAnswer>& answers);

std::string FormatLines(const std::vector<query::QueryAnswer>& answers);
std::string FormatPids(const std::vector<query::QueryAnswer>& answers);
// `width` 0: every row whole; otherwise each row cut to that many columns.
std::string FormatLong(const std::vector<query::QueryAnswer>& answers, const CliReport& report,
                       int width);
std::string FormatJson(const std::vector<query::QueryAnswer>& answers, const CliReport& report);

}  // namespace vesperlin::cli

#pragma once
// The console program's command line: vesperlin-cli [options] PATH...

#include <string>
#include <vector>

namespace vesperlin::cli {

enum class CliOutput { Lines, Pids, Long, Json };

struct CliOptions {
    bool help = false;
    bool version = false;
    CliOutput output = CliOutput::Lines;
    bool recursive = false;
    bool mount = false;
    bool waitFree = false;
    double waitSeconds = 60;         // --wait-free's time-out
    std::vector<std::string> paths;  // in argument order
};

// How often --wait-free asks again.
inline constexpr double kWaitPollSeconds = 0.5;

// Reads the arguments after the program name. False on a usage error, with `error` saying
// what was wrong (without the program name). --help and --version need no path.
bool ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                       std::string& error);

// The text of --help.
std::string CliUsageText();

}  // namespace vesperlin::cli

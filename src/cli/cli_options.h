#pragma once
// The console program's command line: vesperlin-cli [options] PATH...

#include <string>
#include <vector>

namespace vesperlin {

struct CliOptions {
    bool help = false;
    bool version = false;
    bool json = false;
    std::vector<std::string> paths;  // in argument order
};

// Reads the arguments after the program name. False on a usage error, with `error` saying
// what was wrong (without the program name). --help and --version need no path.
bool ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                       std::string& error);

// The text of --help.
std::string CliUsageText();

}  // namespace vesperlin

#include "cli/cli_options.h"

namespace vesperlin {

bool ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                       std::string& error) {
    options = CliOptions();
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        // A lone "-" is a path: nothing here reads standard input.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--json") {
            options.json = true;
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (!options.help && !options.version && options.paths.empty()) {
        error = "no path given";
        return false;
    }
    return true;
}

std::string CliUsageText() {
    return "Usage: vesperlin-cli [options] PATH...\n"
           "Lists the running processes that use each file or folder: those that have it\n"
           "loaded as a program or library, and those that hold it open.\n"
           "A folder is queried together with its direct entries.\n"
           "\n"
           "Options:\n"
           "  --json      print one JSON document instead of the result lines\n"
           "  -h, --help  show this help and exit\n"
           "  --version   show the version and exit\n"
           "  --          end of options: every later argument is a path\n"
           "\n"
           "Exit status: 0 when at least one process uses a given path, 1 when none does,\n"
           "2 on a usage error or when a path could not be read or fully queried.\n";
}

}  // namespace vesperlin

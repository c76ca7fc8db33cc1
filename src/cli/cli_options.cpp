#include "cli/cli_options.h"

#include <cstdlib>

namespace vesperlin::cli {

namespace {

// A number of seconds: digits with an optional fraction, at most a day.
bool ParseSeconds(const std::string& text, double& seconds) {
    if (text.empty() || text.size() > 16) return false;
    bool digits = false, point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    seconds = std::strtod(text.c_str(), nullptr);
    return seconds <= 86400;
}

bool SetOutput(CliOptions& options, CliOutput output, const std::string& arg, std::string& error) {
    if (options.output != CliOutput::Lines && options.output != output) {
        error = "'" + arg + "' cannot be combined with another output form";
        return false;
    }
    options.output = output;
    return true;
}

bool TakeShortOption(char letter, CliOptions& options, std::string& error) {
    switch (letter) {
        case 'p':
            return SetOutput(options, CliOutput::Pids, "-p", error);
        case 'l':
            return SetOutput(options, CliOutput::Long, "-l", error);
        case 'r':
            options.recursive = true;
            return true;
        case 'm':
            options.mount = true;
            return true;
        case 'h':
            options.help = true;
            return true;
    }
    error = std::string("unknown option '-") + letter + "'";
    return false;
}

}  // namespace

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
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--json") {
            if (!SetOutput(options, CliOutput::Json, arg, error)) return false;
        } else if (arg == "--pids") {
            if (!SetOutput(options, CliOutput::Pids, arg, error)) return false;
        } else if (arg == "--long") {
            if (!SetOutput(options, CliOutput::Long, arg, error)) return false;
        } else if (arg == "--recursive") {
            options.recursive = true;
        } else if (arg == "--mount") {
            options.mount = true;
        } else if (arg == "--wait-free") {
            options.waitFree = true;
        } else if (arg.rfind("--wait-free=", 0) == 0) {
            options.waitFree = true;
            const std::string value = arg.substr(12);
            if (!ParseSeconds(value, options.waitSeconds)) {
                error = "invalid number of seconds '" + value +
                        "' for --wait-free (a number from 0 to 86400)";
                return false;
            }
        } else if (arg[1] != '-') {
            for (std::size_t i = 1; i < arg.size(); ++i)
                if (!TakeShortOption(arg[i], options, error)) return false;
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (options.recursive && options.mount) {
        error = "--recursive and --mount cannot be combined";
        return false;
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
           "loaded as a program or library, mapped, or open, or have it as their current\n"
           "or root folder. A folder is queried together with its direct entries.\n"
           "\n"
           "Options:\n"
           "  -p, --pids             print only the process ids, one per line, ascending\n"
           "  -l, --long             print a table: PID, USER, USE, PROGRAM, PATH, COMMAND\n"
           "      --json             print one JSON document (schemaVersion 1)\n"
           "  -r, --recursive        a folder: anything under it, at any depth\n"
           "  -m, --mount            anything on the file system that holds the path\n"
           "      --wait-free[=SECONDS]\n"
           "                         wait until nothing uses the paths (at most SECONDS,\n"
           "                         60 by default), asking again every half second\n"
           "  -h, --help             show this help and exit\n"
           "      --version          show the version and exit\n"
           "      --                 end of options: every later argument is a path\n"
           "\n"
           "Exit status: 0 when at least one process uses a given path (with --wait-free:\n"
           "when none does any more), 1 when none does (with --wait-free: when the time ran\n"
           "out), 2 on a usage error, when a path could not be read or fully queried, or\n"
           "when the output could not be written.\n";
}

}  // namespace vesperlin::cli

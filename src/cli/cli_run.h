#pragma once
// The console program without its platform: arguments in, lines and an exit status out.

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin {

enum CliExitStatus { kCliUsed = 0, kCliNotUsed = 1, kCliFailed = 2 };

// Builds the system once the arguments are known to need it. `messages` outlives the system.
using SystemFactory = std::function<std::unique_ptr<System>(Messages& messages)>;

struct CliPlatform {
    std::string version;          // shown by --version
    std::string privilegedUser;   // who sees every process: "root", "an administrator"
    bool runsPrivileged = false;  // we are that user already: no point in suggesting it
    // Why that user may still not inspect a process.
    std::string privilegedLimits = "protected, or in another namespace";
};

// Messages written to a stream, one per line, unchanged.
class StreamMessages : public Messages {
  public:
    explicit StreamMessages(std::ostream& stream) : stream(stream) {}
    void Show(const std::string& text) override { stream << text << '\n' << std::flush; }

  private:
    std::ostream& stream;
};

// Runs vesperlin-cli with the arguments after the program name. Result lines (or the JSON
// document) go to `out`; messages and diagnostics to `err`. Returns the exit status.
int RunCli(const std::vector<std::string>& args, const SystemFactory& makeSystem,
           const CliPlatform& platform, std::ostream& out, std::ostream& err);

}  // namespace vesperlin

#pragma once
// The console program without its platform: arguments in, output and an exit status out.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/output_sink.h"
#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::cli {

enum CliExitStatus { kCliUsed = 0, kCliNotUsed = 1, kCliFailed = 2 };

// Builds the system once the arguments are known to need it. `messages` outlives the system.
using SystemFactory = std::function<std::unique_ptr<sysinfo::System>(sysinfo::Messages& messages)>;

struct CliPlatform {
    std::string version;          // shown by --version
    std::string privilegedUser;   // who sees every process: "root", "an administrator"
    bool runsPrivileged = false;  // we are that user already: no point in suggesting it
    // Why that user may still not inspect a process.
    std::string privilegedLimits = "protected, or in another namespace";
    int terminalWidth = 0;  // of standard output; 0 when it is no terminal
    // --wait-free's clock (seconds from any fixed moment) and pause; the defaults are the
    // steady clock and a real sleep.
    std::function<double()> now;
    std::function<void(double seconds)> sleep;
};

// The system's own messages, on standard error after the program's name.
class SinkMessages : public sysinfo::Messages {
  public:
    explicit SinkMessages(OutputSink& sink) : sink(sink) {}
    void Show(const std::string& text) override;

  private:
    OutputSink& sink;
};

// Runs vesperlin-cli with the arguments after the program name. Result lines, the table or
// the JSON document go to `out`; messages and diagnostics to `err`. Returns the exit status.
int RunCli(const std::vector<std::string>& args, const SystemFactory& makeSystem,
           const CliPlatform& platform, OutputSink& out, OutputSink& err);

}  // namespace vesperlin::cli

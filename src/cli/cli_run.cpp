#include "cli/cli_run.h"

#include <chrono>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "query/invocation_query.h"

namespace vesperlin::cli {

namespace {

constexpr const char* kProgram = "vesperlin-cli";

// "vesperlin-cli: PATH: TEXT", the path escaped as every name the console shows.
std::string PathError(const std::string& path, const std::string& text) {
    return std::string(kProgram) + ": " + EscapeForText(path) + ": " + text + "\n";
}

// What went wrong with each path, in argument order. True when any path failed.
bool ReportFailures(const std::vector<query::QueryAnswer>& answers, std::string& err) {
    bool failed = false;
    for (const query::QueryAnswer& answer : answers) {
        for (const std::string& message : answer.messages) err += PathError(answer.path, message);
        for (const query::SkippedEntry& skipped : answer.skipped)
            err += PathError(skipped.path, skipped.reason + "; left out");
        if (!answer.reason.empty()) {
            err += PathError(answer.path, answer.reason);
        } else if (answer.status == query::QueryStatus::Stopped && answer.messages.empty()) {
            err += PathError(answer.path, "the query stopped early; its result may be incomplete");
        }
        failed = failed || answer.status != query::QueryStatus::Done;
    }
    return failed;
}

std::vector<query::QueryRequest> RequestsOf(const CliOptions& options) {
    std::vector<query::QueryRequest> requests;
    const sysinfo::Scope scope = options.recursive ? sysinfo::Scope::Under
                                 : options.mount   ? sysinfo::Scope::Volume
                                                   : sysinfo::Scope::Exact;
    for (const std::string& path : options.paths) requests.push_back({path, scope});
    return requests;
}

CliReport ReportOf(sysinfo::System& system, const std::vector<query::QueryAnswer>& answers,
                   CliOutput output) {
    CliReport report;
    report.exitedProcesses = CountExited(answers);
    report.inaccessibleProcesses = system.InaccessibleProcessCount();
    // Only the long forms show details, and reading them costs a few reads per process.
    if (output != CliOutput::Long && output != CliOutput::Json) return report;
    for (const query::QueryAnswer& answer : answers) {
        for (const query::Hit& hit : answer.hits) {
            if (!hit.processFound || report.details.count(hit.processId)) continue;
            sysinfo::ProcessDetails details;
            system.DescribeProcess(hit.processId, details);
            report.details.emplace(hit.processId, std::move(details));
        }
    }
    return report;
}

std::string Format(const std::vector<query::QueryAnswer>& answers, const CliReport& report,
                   const CliOptions& options, int width) {
    switch (options.output) {
        case CliOutput::Pids:
            return FormatPids(answers);
        case CliOutput::Long:
            return FormatLong(answers, report, width);
        case CliOutput::Json:
            return FormatJson(answers, report);
        case CliOutput::Lines:
            break;
    }
    return FormatLines(answers);
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void SinkMessages::Show(const std::string& text) {
    sink.Write(std::string(kProgram) + ": " + text + "\n");
}

int RunCli(const std::vector<std::string>& args, const SystemFactory& makeSystem,
           const CliPlatform& platform, OutputSink& out, OutputSink& err) {
    CliOptions options;
    std::string error;
    if (!ParseCliArguments(args, options, error)) {
        err.Write(std::string(kProgram) + ": " + error + "\nTry '" + kProgram +
                  " --help' for more information.\n");
        return kCliFailed;
    }
    // A write error on standard output is reported once; a reader that has gone ends us
    // quietly, as it would any filter in a pipeline.
    const auto finish = [&](int status) {
        if (out.CurrentState() == OutputSink::State::Failed) {
            err.Write(std::string(kProgram) + ": standard output: " + out.FailureReason() + "\n");
            return static_cast<int>(kCliFailed);
        }
        return status;
    };
    if (options.help) {
        out.Write(CliUsageText());
        return finish(kCliUsed);
    }
    if (options.version) {
        out.Write(std::string(kProgram) + " " + platform.version + "\n");
        return finish(kCliUsed);
    }

    SinkMessages messages(err);
    const std::unique_ptr<sysinfo::System> system = makeSystem(messages);
    if (!system) {
        err.Write(std::string(kProgram) + ": cannot inspect the system\n");
        return kCliFailed;
    }

    const std::vector<query::QueryRequest> requests = RequestsOf(options);
    std::vector<query::QueryAnswer> answers = query::QueryInvocation(*system, requests);
    if (options.waitFree) {
        const auto now = platform.now ? platform.now : SteadySeconds;
        const auto sleep = platform.sleep ? platform.sleep : [](double seconds) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        };
        const double deadline = now() + options.waitSeconds;
        while (AnyNamedHit(answers) && now() < deadline) {
            const double left = deadline - now();
            sleep(left < kWaitPollSeconds ? left : kWaitPollSeconds);
            answers = query::QueryInvocation(*system, requests);
        }
    }

    const CliReport report = ReportOf(*system, answers, options.output);
    std::string errors;
    const bool failed = ReportFailures(answers, errors);
    out.Write(Format(answers, report, options, platform.terminalWidth));
    err.Write(errors);
    if (report.inaccessibleProcesses > 0) {
        const std::size_t count = report.inaccessibleProcesses;
        std::string note = std::string(kProgram) + ": " + std::to_string(count) +
                           (count == 1 ? " process" : " processes") + " could not be inspected";
        if (platform.runsPrivileged) {
            note += " (" + platform.privilegedLimits + ")\n";
        } else {
            note += "; " + platform.privilegedUser + " sees them all\n";
        }
        err.Write(note);
    }

    const bool used = AnyNamedHit(answers);
    if (failed) return finish(kCliFailed);
    if (options.waitFree) return finish(used ? kCliNotUsed : kCliUsed);
    return finish(used ? kCliUsed : kCliNotUsed);
}

}  // namespace vesperlin::cli

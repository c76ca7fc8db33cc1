// Times vesperlin-cli.exe as a script runs it, start-up included, over a load of helper
// processes: one path, 20 paths in one invocation, and --recursive on a folder tree. Prints
// the median of each, its ratio to one path, the peak working set of the program, and whether
// it named exactly the processes that hold the files.
//   cli-bench.exe [--processes N] [--files N] [--holders N] [--runs N] [--cli PATH]
// The load is the handle pass benchmark's without the blocked pipes and names: N processes
// holding the same N files each. The console program is the one beside this one unless --cli
// names another.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/holder_process.h"

using vesperlin::testing::ExecutableFolder;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

using vesperlin::bench::Median;
using vesperlin::bench::Now;
using vesperlin::bench::Option;
using vesperlin::bench::Picked;

namespace {

std::string TextOption(int argc, char** argv, const char* name, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

std::string ReadWhole(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

struct Run {
    bool started = false;
    DWORD exitCode = 0;
    double ms = 0;
    SIZE_T peakBytes = 0;  // the largest the program's working set was seen to be
    std::string out, err;
};

void SamplePeak(HANDLE process, Run& run) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, &counters, sizeof counters))
        run.peakBytes = std::max(run.peakBytes, counters.PeakWorkingSetSize);
}

// Runs the command line with standard output and error in files of `folder`. The peak working
// set is read while the program runs, every 5 ms, and once more after it ended, for a system
// that keeps it with the handle: the figure is the largest seen, at most the tail's growth
// below the true peak.
Run RunProgram(const std::string& commandLine, const std::string& folder) {
    Run run;
    const std::string outPath = folder + "\\out.txt", errPath = folder + "\\err.txt";
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const double start = Now();
    run.started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                  CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &info);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!run.started) return run;
    CloseHandle(info.hThread);
    while (WaitForSingleObject(info.hProcess, 5) == WAIT_TIMEOUT) SamplePeak(info.hProcess, run);
    run.ms = Now() - start;
    SamplePeak(info.hProcess, run);
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    CloseHandle(info.hProcess);
    run.out = ReadWhole(outPath);
    run.err = ReadWhole(errPath);
    return run;
}

// The process ids of the result lines "ID  NAME ..." (decimal; "0xID" in the desktop
// program's hexadecimal form); the "PATH:" lines above each path's lines start otherwise.
std::set<DWORD> NamedProcesses(const std::string& out) {
    std::set<DWORD> ids;
    std::size_t at = 0;
    while (at < out.size()) {
        std::size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const bool hex = out.compare(at, 2, "0x") == 0;
        const char* digits = out.c_str() + at + (hex ? 2 : 0);
        char* stop = nullptr;
        const unsigned long id = std::strtoul(digits, &stop, hex ? 16 : 10);
        if (*digits >= '0' && (hex || *digits <= '9') && stop != digits && *stop == ' ')
            ids.insert(static_cast<DWORD>(id));
        at = end + 1;
    }
    return ids;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

struct Case {
    const char* label;
    std::string commandLine;
    std::set<DWORD> expected;
    std::vector<double> ms;
    SIZE_T peakBytes = 0;
    bool agrees = true;
    std::string firstProblem;
};

}  // namespace

int main(int argc, char** argv) {
    const int processes = std::max(1, Option(argc, argv, "--processes", 40));
    const int files = Option(argc, argv, "--files", 250);
    const int holders = std::min(processes, std::max(1, Option(argc, argv, "--holders", 3)));
    const int runs = std::max(1, Option(argc, argv, "--runs", 5));
    const std::string cli =
        TextOption(argc, argv, "--cli", ExecutableFolder() + "vesperlin-cli.exe");
    if (GetFileAttributesA(cli.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "cli-bench: %s: no such program\n", cli.c_str());
        return 1;
    }

    TempFolder folder, scratch;
    std::vector<std::string> common;
    for (int i = 0; i < files; ++i) {
        common.push_back("--file");
        common.push_back(folder.MakeFile("f" + std::to_string(i) + ".txt"));
    }
    std::vector<std::string> targets;
    for (int i = 0; i < 20; ++i)
        targets.push_back(folder.MakeFile("t" + std::to_string(i) + ".dat"));
    // A tree of 10 folders of 10 folders of 10 files, inside a folder of its own.
    const std::string tree = folder.MakeSubfolder("tree");
    std::vector<std::string> treeFiles;
    for (int a = 0; a < 10; ++a) {
        const std::string top = "tree\\a" + std::to_string(a);
        folder.MakeSubfolder(top);
        for (int b = 0; b < 10; ++b) {
            const std::string sub = top + "\\b" + std::to_string(b);
            folder.MakeSubfolder(sub);
            for (int f = 0; f < 10; ++f)
                treeFiles.push_back(folder.MakeFile(sub + "\\f" + std::to_string(f) + ".txt"));
        }
    }

    // The first target's holders; holders of the other targets spread from other offsets, so
    // that the 20 paths are used by more processes than the one; holders in the tree, one of
    // them through a folder handle.
    Case one{"one path", Quoted(cli) + " " + Quoted(targets[0]), {}, {}, 0, true, {}};
    std::string twentyLine = Quoted(cli);
    for (const auto& target : targets) twentyLine += " " + Quoted(target);
    Case twenty{"20 paths, one invocation", twentyLine, {}, {}, 0, true, {}};
    Case recursive{
        "--recursive TREE", Quoted(cli) + " --recursive " + Quoted(tree), {}, {}, 0, true, {}};
    std::vector<std::unique_ptr<HolderProcess>> load;
    for (int p = 0; p < processes; ++p) {
        std::vector<std::string> options = common;
        bool holdsOne = false, holdsTwenty = false, holdsTree = false;
        if (Picked(p, processes, holders, 5)) {
            options.insert(options.end(), {"--file", targets[0]});
            holdsOne = holdsTwenty = true;
        }
        for (int t = 1; t < 20; ++t)
            if (Picked(p, processes, holders, 5 + t)) {
                options.insert(options.end(), {"--file", targets[t]});
                holdsTwenty = true;
            }
        if (Picked(p, processes, holders, 3)) {
            options.insert(options.end(), {"--file", treeFiles[(p * 37) % treeFiles.size()]});
            holdsTree = true;
        }
        if (p == (processes > 1 ? 1 : 0)) {
            options.insert(options.end(), {"--folder", tree + "\\a4\\b2"});
            holdsTree = true;
        }
        load.push_back(std::make_unique<HolderProcess>(options, 30000));
        if (!load.back()->Started()) {
            std::fprintf(stderr, "helper %d did not start\n", p);
            return 1;
        }
        if (holdsOne) one.expected.insert(load.back()->Id());
        if (holdsTwenty) twenty.expected.insert(load.back()->Id());
        if (holdsTree) recursive.expected.insert(load.back()->Id());
    }

    std::printf(
        "load: %d processes x %d files; the one path held by %zu, the 20 by %zu, the tree "
        "(%zu files in 110 folders) by %zu\n",
        processes, files, one.expected.size(), twenty.expected.size(), treeFiles.size(),
        recursive.expected.size());
    std::printf("program: %s\n", cli.c_str());
    Case* cases[] = {&one, &twenty, &recursive};
    std::printf("%4s", "run");
    for (Case* c : cases) std::printf(" %26s", c->label);
    std::printf("\n");
    // Round 0 starts the program once per case to warm the caches and is not counted; then the
    // cases run in turn, so that a drift in the Wine server's cost hits all of them alike.
    for (int round = 0; round <= runs; ++round) {
        if (round > 0) std::printf("%4d", round);
        for (Case* c : cases) {
            const Run run = RunProgram(c->commandLine, scratch.Path());
            std::string problem;
            if (!run.started)
                problem = "did not start";
            else if (run.exitCode != 0)
                problem = "exit status " + std::to_string(run.exitCode) + ": " + run.err;
            else if (NamedProcesses(run.out) != c->expected)
                problem = "named other processes:\n" + run.out;
            if (!problem.empty() && c->agrees) {
                c->agrees = false;
                c->firstProblem = problem;
            }
            if (round == 0) continue;
            c->ms.push_back(run.ms);
            c->peakBytes = std::max(c->peakBytes, run.peakBytes);
            std::printf(" %23.1f ms", run.ms);
        }
        if (round > 0) std::printf("\n");
        std::fflush(stdout);
    }

    std::printf("\nmedian of %d runs taken in turn, wall time including start-up:\n", runs);
    std::printf("  %-26s %10s %10s %12s  %s\n", "", "ms", "/ one path", "peak WS KiB", "processes");
    const double base = Median(one.ms);
    for (Case* c : cases)
        std::printf("  %-26s %10.1f %10.2f %12zu  %s\n", c->label, Median(c->ms),
                    Median(c->ms) / base, static_cast<std::size_t>(c->peakBytes / 1024),
                    c->agrees ? "AGREE" : "DIFFER");
    int missed = 0;
    for (Case* c : {&twenty, &recursive}) {
        const double ratio = Median(c->ms) / base;
        // A time is no answer when the program failed or named others.
        const bool met = ratio <= 1.3 && c->agrees && one.agrees;
        missed += !met;
        std::printf("  goal %-44s %6.2f (<= 1.3)  %s\n",
                    (std::string(c->label) + " / one path:").c_str(), ratio,
                    met                       ? "goal met"
                    : c->agrees && one.agrees ? "goal MISSED"
                                              : "goal MISSED (no answer)");
    }
    int differs = 0;
    for (Case* c : cases)
        if (!c->agrees) {
            ++differs;
            std::printf("%s: %s\n", c->label, c->firstProblem.c_str());
        }
    if (differs || missed) {
        std::printf("result: %d cases differ, %d goals missed\n", differs, missed);
        return 1;
    }
    std::printf("result: every case names the holders, every goal met\n");
    return 0;
}

// Times the whole usage query of one file (module, handle and mapped pass, as the programs run
// it) against the same query without the mapped pass, over a load of helper processes, and
// prints both with the mapped pass's own share.
//   query-bench.exe [--processes N] [--files N] [--pipes N] [--holders N] [--blocked N]
//                   [--mapped N] [--runs N]
// The load is the handle pass benchmark's (same options, same defaults); --mapped helpers map
// the target as data besides.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "query/result_list.h"
#include "query/usage_query.h"
#include "bench_support.h"
#include "support/holder_process.h"
#include "sysinfo/messages.h"
#include "sysinfo/win32/mapped_files.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/win32_system.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;
using namespace vesperlin::query;

using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

using vesperlin::bench::Median;
using vesperlin::bench::Now;
using vesperlin::bench::Option;
using vesperlin::bench::Picked;

namespace {

// The running system, with the mapped pass timed (its snapshot and the names of its hits) or
// left out.
class BenchSystem : public System {
  public:
    explicit BenchSystem(Messages& messages) : system(messages) {}

    bool withMappedPass = true;
    double mappedMs = 0;

    std::unique_ptr<ProcessNames> TakeProcessSnapshot() override {
        if (!namingMappedHits) return system.TakeProcessSnapshot();
        // The names of the mapped hits: the last part of the pass.
        namingMappedHits = false;
        const double start = Now();
        auto names = system.TakeProcessSnapshot();
        mappedMs += Now() - start;
        return names;
    }
    bool TakeModuleSnapshot(std::vector<ModuleRecord>& modules) override {
        return system.TakeModuleSnapshot(modules);
    }
    std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot() override {
        return system.TakeFileHandleSnapshot();
    }
    bool TakeMappedFileSnapshot(const std::vector<HandleTarget>& targets,
                                const std::vector<ProcessId>& reported,
                                std::vector<MappedFileRecord>& mapped) override {
        mapped.clear();
        if (!withMappedPass) return true;
        const double start = Now();
        const bool ok = system.TakeMappedFileSnapshot(targets, reported, mapped);
        mappedMs += Now() - start;
        namingMappedHits = !mapped.empty();
        return ok;
    }
    bool GetFullPath(const std::string& path, std::string& fullPath) override {
        return system.GetFullPath(path, fullPath);
    }
    bool GetDeviceFileName(const std::string& path, std::string& deviceForm) override {
        return system.GetDeviceFileName(path, deviceForm);
    }
    bool ModuleMatches(const std::string& modulePath, const std::string& fullPath) override {
        return system.ModuleMatches(modulePath, fullPath);
    }
    bool HandleMatches(const std::string& name, const std::string& deviceForm,
                       const std::string& fullPath) override {
        return system.HandleMatches(name, deviceForm, fullPath);
    }
    PathKind Classify(const std::string& path) override { return system.Classify(path); }
    bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) override {
        return system.ListFolder(fullPath, names);
    }
    std::string JoinPath(const std::string& folder, const std::string& name) override {
        return system.JoinPath(folder, name);
    }
    std::string FileNamePart(const std::string& path) override { return system.FileNamePart(path); }
    ProcessId OwnProcessId() const override { return system.OwnProcessId(); }

  private:
    vesperlin::sysinfo::win32::Win32System system;
    bool namingMappedHits = false;
};

vesperlin::sysinfo::win32::NtQueryInformationFileFn platformFileQuery = nullptr;

// A name query that never answers for files called "blocked-*", as a handle on a hung network
// share or a blocked pipe does on Windows (under Wine nothing blocks). Runs on probe workers,
// which the handle pass abandons after its time limit.
NTSTATUS NTAPI HangingFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer, ULONG length,
                                ULONG infoClass) {
    const NTSTATUS status = platformFileQuery(file, block, buffer, length, infoClass);
    if (status != 0 || length < sizeof(FILE_NAME_INFORMATION)) return status;
    const auto* info = static_cast<const FILE_NAME_INFORMATION*>(buffer);
    const std::size_t units =
        std::min<std::size_t>(info->FileNameLength, length - sizeof(ULONG)) / sizeof(WCHAR);
    const std::wstring name(info->FileName, units);
    const std::size_t slash = name.find_last_of(L'\\');
    if (name.compare(slash == std::wstring::npos ? 0 : slash + 1, 8, L"blocked-") == 0)
        Sleep(INFINITE);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const int processes = std::max(1, Option(argc, argv, "--processes", 40));
    const int files = Option(argc, argv, "--files", 250);
    const int pipes = std::min(processes, Option(argc, argv, "--pipes", 20));
    const int holders = std::min(processes, Option(argc, argv, "--holders", 3));
    const int blocked = std::min(processes, Option(argc, argv, "--blocked", 10));
    const int mappers = std::min(processes, Option(argc, argv, "--mapped", 3));
    const int runs = std::max(1, Option(argc, argv, "--runs", 7));
    if (!vesperlin::sysinfo::win32::ntApiBound) {
        std::fprintf(stderr, "native entry points not bound\n");
        return 1;
    }

    TempFolder folder;
    std::vector<std::string> common;
    for (int i = 0; i < files; ++i) {
        common.push_back("--file");
        common.push_back(folder.MakeFile("f" + std::to_string(i) + ".txt"));
    }
    const std::string target = folder.MakeFile("target.txt");
    std::vector<std::unique_ptr<HolderProcess>> load;
    for (int p = 0; p < processes; ++p) {
        std::vector<std::string> options = common;
        const std::string n = std::to_string(p);
        if (Picked(p, processes, blocked, 0))
            options.insert(options.end(), {"--file", folder.MakeFile("blocked-" + n + ".txt")});
        if (Picked(p, processes, pipes, 1))
            options.insert(options.end(),
                           {"--blocked-pipe",
                            "vesperlin-qbench-" + std::to_string(GetCurrentProcessId()) + "-" + n});
        if (Picked(p, processes, holders, 5)) options.insert(options.end(), {"--file", target});
        if (Picked(p, processes, mappers, 7)) options.insert(options.end(), {"--map", target});
        load.push_back(std::make_unique<HolderProcess>(options, 30000));
        if (!load.back()->Started()) {
            std::fprintf(stderr, "helper %d did not start\n", p);
            return 1;
        }
    }
    platformFileQuery = vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile;
    vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile = HangingFileQuery;

    std::printf(
        "load: %d processes x %d files, %d blocked pipes, %d blocked name queries; target held "
        "open by %d, mapped by %d\n",
        processes, files, pipes, blocked, holders, mappers);
    // Two views of the growth: the ratio of the two queries' medians, and within each run the
    // mapped pass against the rest of its own query, which the server's drifting cost (other
    // work on the machine) cannot split.
    std::printf("%4s %9s %9s %9s %8s %8s %9s %8s %7s %6s %6s\n", "run", "with ms", "w/o ms",
                "mapped ms", "growth", "share", "processes", "regions", "names", "lines", "hits");
    SilentMessages messages;
    BenchSystem system(messages);
    std::vector<double> with, without, mapped, shares;
    bool sameAnswer = true;
    for (int run = 0; run < runs; ++run) {
        double ms[2] = {};
        std::size_t lines[2] = {};
        std::size_t mappedHits = 0;
        const std::size_t walked = vesperlin::sysinfo::win32::mappedPassCounters.processesWalked;
        const std::size_t regions = vesperlin::sysinfo::win32::mappedPassCounters.spaceQueries;
        const std::size_t names = vesperlin::sysinfo::win32::mappedPassCounters.nameQueries;
        // Alternate which query goes first, so that a drift in the server's cost does not
        // favour one of them.
        for (int turn = 0; turn < 2; ++turn) {
            const bool withPass = (turn == 0) == (run % 2 == 0);
            system.withMappedPass = withPass;
            system.mappedMs = 0;
            VectorResultList results;
            const double start = Now();
            QueryPath(system, results, messages, target, kNotUsedFormat,
                      [&](const Hit& hit) { mappedHits += hit.asMapped; });
            ms[withPass ? 0 : 1] = Now() - start;
            lines[withPass ? 0 : 1] = results.Count();
            if (withPass) mapped.push_back(system.mappedMs);
        }
        with.push_back(ms[0]);
        without.push_back(ms[1]);
        shares.push_back(mapped.back() / (ms[0] - mapped.back()));
        std::printf("%4d %9.1f %9.1f %9.1f %7.1f%% %7.1f%% %9zu %8zu %7zu %2zu/%-3zu %6zu\n",
                    run + 1, ms[0], ms[1], mapped.back(), 100.0 * (ms[0] / ms[1] - 1.0),
                    100.0 * shares.back(),
                    vesperlin::sysinfo::win32::mappedPassCounters.processesWalked - walked,
                    vesperlin::sysinfo::win32::mappedPassCounters.spaceQueries - regions,
                    vesperlin::sysinfo::win32::mappedPassCounters.nameQueries - names, lines[0],
                    lines[1], mappedHits);
        std::fflush(stdout);
        // Mappers that also hold the target add no line; the others add one each.
        sameAnswer &= lines[0] >= lines[1];
    }
    vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile = platformFileQuery;
    std::printf(
        "median query with the mapped pass: %.1f ms, without: %.1f ms (the pass alone: %.1f ms) "
        "over %d runs\n",
        Median(with), Median(without), Median(mapped), runs);
    std::printf(
        "growth of the query by the mapped pass: %.1f%% by the medians, %.1f%% by the median "
        "share within a run (limit 20%%)\n",
        100.0 * (Median(with) / Median(without) - 1.0), 100.0 * Median(shares));
    if (!sameAnswer) std::printf("warning: the query with the mapped pass lost lines\n");
    return 0;
}

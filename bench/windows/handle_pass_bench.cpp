// Builds a load of helper processes that hold many files and pipes open, runs the handle pass
// (the "File" handle snapshot and the naming of every row) several times, and prints what each
// run cost: wall time, processes opened, handles copied, probe threads started, time-outs, and
// beside it the platform's floor for the same handles, measured right before.
//   handle-pass-bench.exe [--processes N] [--files N] [--pipes N] [--holders N] [--blocked N]
//                         [--runs N] [--all-names] [--soak ROUNDS] [--slow N]
// With --soak, that many rounds of the pass follow in which the probes of N more handles
// (--slow, 100 by default) answer only after 90 to 130 ms, around the time limit, beside the
// real ones and those that never answer: it prints per round and in sum the time-outs, the
// longest any single row kept the pass waiting once its probe had begun, the threads started,
// the hits, and stalls (rounds in which a row waited a second or more; a round that does not
// end within a minute ends the benchmark with exit code 3).
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/holder_process.h"
#include "sysinfo/messages.h"
#include "sysinfo/win32/file_handles.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/object_types.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

using vesperlin::bench::Median;
using vesperlin::bench::Option;

namespace {

struct Load {
    int processes = 40;
    int files = 250;
    int pipes = 20;
    int holders = 3;  // processes that hold the target
    int blocked = 10;
    int runs = 7;
    int soakRounds = 0;
    int slow = 100;
};

vesperlin::sysinfo::win32::NtQueryInformationFileFn realFileQuery = nullptr;
volatile LONG soaking = 0;
volatile LONG slowCalls = 0;

// Whether a successful file-name answer holds `marker`.
bool AnswerHolds(NTSTATUS status, PVOID buffer, ULONG length, const wchar_t* marker) {
    if (status != 0 || length < sizeof(ULONG)) return false;
    const auto* info = static_cast<const FILE_NAME_INFORMATION*>(buffer);
    const ULONG units = std::min<ULONG>(info->FileNameLength / sizeof(WCHAR),
                                        (length - sizeof(ULONG)) / sizeof(WCHAR));
    const ULONG markerUnits = static_cast<ULONG>(wcslen(marker));
    for (ULONG i = 0; i + markerUnits <= units; ++i)
        if (std::memcmp(info->FileName + i, marker, markerUnits * sizeof(WCHAR)) == 0) return true;
    return false;
}

// Stands in for handles whose name query hangs: files whose name starts with "blocked-" never
// answer. While soaking, files whose name starts with "slow-" answer after 90 to 130 ms, as a
// slow share or a busy pipe does. Runs on the probe worker, which is terminated when it does not
// finish in time, so it calls nothing but the platform.
NTSTATUS NTAPI ScriptedFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer, ULONG length,
                                 ULONG infoClass) {
    const NTSTATUS status = realFileQuery(file, block, buffer, length, infoClass);
    if (AnswerHolds(status, buffer, length, L"\\blocked-")) Sleep(INFINITE);
    if (soaking && AnswerHolds(status, buffer, length, L"\\slow-")) {
        const auto call = static_cast<unsigned>(InterlockedIncrement(&slowCalls));
        Sleep(90 + (call * 2654435761u >> 16) % 41);
    }
    return status;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

double Millis(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The least the platform charges for the pass: the steps every "File" handle of another
// process needs (copy, probe, close), done bare by as many threads as the pass has workers,
// with nothing else around them. Under Wine each step is a round trip to the one Wine server,
// which no number of threads makes cheaper. Measured right before each pass, since what a
// round trip costs drifts with the machine's load.
struct FloorWork {
    std::vector<vesperlin::sysinfo::win32::HandleEntry> rows;
    std::vector<HANDLE> owners;  // per row
    volatile LONG next = 0;
};

DWORD WINAPI FloorWorker(LPVOID parameter) {
    auto* work = static_cast<FloorWork*>(parameter);
    IO_STATUS_BLOCK block;
    alignas(8) unsigned char reply[4096];
    for (;;) {
        const LONG i = InterlockedIncrement(&work->next) - 1;
        if (i >= static_cast<LONG>(work->rows.size())) return 0;
        HANDLE copy = nullptr;
        if (!DuplicateHandle(work->owners[i], work->rows[i].HandleValue, GetCurrentProcess(), &copy,
                             0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        realFileQuery(copy, &block, reply, sizeof(reply), 9);
        CloseHandle(copy);
    }
}

// Milliseconds, or a negative number when the "File" index or the handle table cannot be read.
double MeasureFloor(int threads) {
    // A file handle of our own shows which type index "File" has.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    HANDLE file =
        CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    std::vector<vesperlin::sysinfo::win32::HandleEntry> table;
    const bool read = vesperlin::sysinfo::win32::ReadSystemHandleTable(table);
    CloseHandle(file);
    if (!read) return -1;
    USHORT fileIndex = 0;
    for (const auto& row : table)
        if (row.ProcessId == GetCurrentProcessId() && row.HandleValue == file)
            fileIndex = row.ObjectTypeIndex;
    FloorWork work;
    std::vector<std::pair<DWORD, HANDLE>> opened;
    for (const auto& row : table) {
        if (row.ObjectTypeIndex != fileIndex || row.ProcessId == GetCurrentProcessId()) continue;
        HANDLE owner = nullptr;
        for (const auto& [id, process] : opened)
            if (id == row.ProcessId) owner = process;
        if (!owner) {
            owner = OpenProcess(PROCESS_DUP_HANDLE, FALSE, row.ProcessId);
            if (!owner) continue;
            opened.emplace_back(row.ProcessId, owner);
        }
        work.rows.push_back(row);
        work.owners.push_back(owner);
    }
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::vector<HANDLE> workers;
    for (int t = 0; t < threads; ++t)
        if (HANDLE worker = CreateThread(nullptr, 0, FloorWorker, &work, 0, nullptr))
            workers.push_back(worker);
    WaitForMultipleObjects(static_cast<DWORD>(workers.size()), workers.data(), TRUE, INFINITE);
    QueryPerformanceCounter(&end);
    for (HANDLE worker : workers) CloseHandle(worker);
    for (const auto& [id, process] : opened) CloseHandle(process);
    return Millis(start, end);
}

// What one pass cost, as the usage query runs it.
struct Pass {
    double wall = 0, snapshot = 0, visit = 0, close = 0;
    std::size_t rows = 0, named = 0, hits = 0;
    vesperlin::sysinfo::win32::HandlePassCounters counts;  // this pass's alone
};

Pass RunPass(const std::string& target, const std::string& deviceForm, bool allNames) {
    const std::string wineForm = "\\??\\" + target;
    SilentMessages messages;
    Pass pass;
    const vesperlin::sysinfo::win32::HandlePassCounters before =
        vesperlin::sysinfo::win32::handlePassCounters;
    vesperlin::sysinfo::win32::handlePassCounters.longestWaitUs = 0;
    LARGE_INTEGER start, taken, visited, end;
    QueryPerformanceCounter(&start);
    {
        auto snapshot = vesperlin::sysinfo::win32::TakeFileHandleSnapshot(messages);
        // As the usage query does: only handles that may be the target need naming.
        if (!allNames) snapshot->LimitNamesTo({{deviceForm, target}});
        QueryPerformanceCounter(&taken);
        pass.rows = snapshot->Count();
        snapshot->VisitNames([&](ProcessId, bool isNamed, const std::string& name) {
            pass.named += isNamed;
            pass.hits +=
                isNamed && (SameIgnoringCase(name, wineForm) || SameIgnoringCase(name, deviceForm));
            return true;
        });
        QueryPerformanceCounter(&visited);
    }  // the snapshot closes its copies here
    QueryPerformanceCounter(&end);
    pass.wall = Millis(start, end);
    pass.snapshot = Millis(start, taken);
    pass.visit = Millis(taken, visited);
    pass.close = Millis(visited, end);
    const vesperlin::sysinfo::win32::HandlePassCounters& after =
        vesperlin::sysinfo::win32::handlePassCounters;
    pass.counts.processesOpened = after.processesOpened - before.processesOpened;
    pass.counts.handlesCopied = after.handlesCopied - before.handlesCopied;
    pass.counts.threadsCreated = after.threadsCreated - before.threadsCreated;
    pass.counts.threadsTerminated = after.threadsTerminated - before.threadsTerminated;
    pass.counts.probeTimeouts = after.probeTimeouts - before.probeTimeouts;
    pass.counts.longestWaitUs = after.longestWaitUs;
    return pass;
}

// Ends the benchmark when a soak round does not end: a stalled pass never returns.
volatile LONG roundsDone = 0;

DWORD WINAPI StallWatch(LPVOID) {
    LONG seen = -1;
    ULONGLONG since = GetTickCount64();
    for (;;) {
        Sleep(250);
        const LONG done = roundsDone;
        if (done != seen) {
            seen = done;
            since = GetTickCount64();
        } else if (GetTickCount64() - since > 60000) {
            std::printf("stall: round %ld did not end within 60 s\n", static_cast<long>(done + 1));
            std::fflush(stdout);
            ExitProcess(3);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Load load;
    load.processes = Option(argc, argv, "--processes", load.processes);
    load.files = Option(argc, argv, "--files", load.files);
    load.pipes = Option(argc, argv, "--pipes", load.pipes);
    load.holders = Option(argc, argv, "--holders", load.holders);
    load.blocked = Option(argc, argv, "--blocked", load.blocked);
    load.runs = std::max(1, Option(argc, argv, "--runs", load.runs));
    load.soakRounds = std::max(0, Option(argc, argv, "--soak", load.soakRounds));
    load.slow = load.soakRounds > 0 ? std::max(0, Option(argc, argv, "--slow", load.slow)) : 0;
    bool allNames = false;  // --all-names: name every handle, as a visit without a limit does
    for (int i = 1; i < argc; ++i) allNames |= std::strcmp(argv[i], "--all-names") == 0;

    if (!vesperlin::sysinfo::win32::ntApiBound) {
        std::fprintf(stderr, "native entry points not bound\n");
        return 1;
    }
    TempFolder folder;
    std::vector<std::string> files;
    for (int i = 0; i < load.files; ++i)
        files.push_back(folder.MakeFile("f" + std::to_string(i) + ".txt"));
    const std::string target = folder.MakeFile("target.txt");

    std::vector<std::unique_ptr<HolderProcess>> holders;
    // The special handles are spread evenly over the processes: process p gets the k-th one of
    // a kind of n when p == k * processes / n (+ an offset, so that kinds do not pile up).
    const auto gets = [&](int p, int n, int offset) {
        for (int k = 0; k < n; ++k)
            if ((k * load.processes / n + offset) % load.processes == p) return k;
        return -1;
    };
    int blockedMade = 0, pipesMade = 0, targetHolders = 0, slowMade = 0;
    for (int p = 0; p < load.processes; ++p) {
        std::vector<std::string> options;
        for (const std::string& file : files) {
            options.push_back("--file");
            options.push_back(file);
        }
        if (const int k = gets(p, load.blocked, 0); k >= 0) {
            options.push_back("--file");
            options.push_back(folder.MakeFile("blocked-" + std::to_string(k) + ".txt"));
            ++blockedMade;
        }
        if (const int k = gets(p, load.pipes, 1); k >= 0) {
            options.push_back("--blocked-pipe");
            options.push_back("vesperlin-bench-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(k));
            ++pipesMade;
        }
        if (gets(p, load.holders, 5) >= 0) {
            options.push_back("--file");
            options.push_back(target);
            ++targetHolders;
        }
        // The slow ones, round robin: several per process, next to each other.
        for (int k = p; k < load.slow; k += load.processes) {
            options.push_back("--file");
            options.push_back(folder.MakeFile("slow-" + std::to_string(k) + ".txt"));
            ++slowMade;
        }
        auto holder = std::make_unique<HolderProcess>(options, 30000);
        if (!holder->Started()) {
            std::fprintf(stderr, "helper %d did not start\n", p);
            return 1;
        }
        holders.push_back(std::move(holder));
    }
    char device[512] = {};
    QueryDosDeviceA(target.substr(0, 2).c_str(), device, sizeof(device));
    const std::string deviceForm = std::string(device) + target.substr(2);

    realFileQuery = vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile;
    vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile = ScriptedFileQuery;

    // One holder process keeps at most one blocked pipe (both ends are "File" handles).
    std::printf(
        "load: %d processes x %d files, %d blocked pipes, target held by %d, "
        "%d blocked file-name queries",
        load.processes, load.files, pipesMade, targetHolders, blockedMade);
    if (slowMade > 0) std::printf(", %d slow ones while soaking", slowMade);
    std::printf("\n%4s %9s %9s %6s %11s %8s %8s %7s %7s %11s %9s %7s %8s %4s\n", "run", "wall ms",
                "floor ms", "ratio", "snapshot ms", "visit ms", "close ms", "rows", "named",
                "OpenProcess", "Duplicate", "threads", "timeouts", "hits");
    std::vector<double> walls, floors, ratios;
    for (int run = 0; run < load.runs; ++run) {
        const double floor =
            MeasureFloor(static_cast<int>(vesperlin::sysinfo::win32::ProbePoolSize));
        const Pass pass = RunPass(target, deviceForm, allNames);
        walls.push_back(pass.wall);
        floors.push_back(floor);
        ratios.push_back(pass.wall / floor);
        std::printf(
            "%4d %9.1f %9.1f %6.2f %11.1f %8.1f %8.1f %7zu %7zu %11zu %9zu %7zu %8zu %4zu\n",
            run + 1, pass.wall, floor, pass.wall / floor, pass.snapshot, pass.visit, pass.close,
            pass.rows, pass.named, pass.counts.processesOpened, pass.counts.handlesCopied,
            pass.counts.threadsCreated, pass.counts.probeTimeouts, pass.hits);
        std::fflush(stdout);
    }
    std::printf("median wall time: %.1f ms over %d runs\n", Median(walls), load.runs);
    std::printf(
        "median floor (copy + probe + close of every file handle, %zu bare threads): "
        "%.1f ms; median ratio wall / floor: %.2f\n",
        vesperlin::sysinfo::win32::ProbePoolSize, Median(floors), Median(ratios));

    if (load.soakRounds > 0) {
        std::printf("soak: %d rounds, %d probes answering after 90-130 ms (limit %lu ms)\n",
                    load.soakRounds, slowMade,
                    static_cast<unsigned long>(vesperlin::sysinfo::win32::ProbeTimeLimitMs));
        std::printf("%5s %9s %7s %8s %12s %7s %10s %4s\n", "round", "wall ms", "rows", "timeouts",
                    "longest wait", "threads", "terminated", "hits");
        soaking = 1;
        HANDLE watch = CreateThread(nullptr, 0, StallWatch, nullptr, 0, nullptr);
        std::size_t timeouts = 0, threads = 0, terminated = 0, longest = 0;
        int stalls = 0, lostHits = 0;
        for (int round = 0; round < load.soakRounds; ++round) {
            const Pass pass = RunPass(target, deviceForm, allNames);
            InterlockedIncrement(&roundsDone);
            timeouts += pass.counts.probeTimeouts;
            threads += pass.counts.threadsCreated;
            terminated += pass.counts.threadsTerminated;
            longest = std::max(longest, pass.counts.longestWaitUs);
            stalls += pass.counts.longestWaitUs >= 1000000;
            lostHits += pass.hits != static_cast<std::size_t>(targetHolders);
            std::printf("%5d %9.1f %7zu %8zu %9.1f ms %7zu %10zu %4zu\n", round + 1, pass.wall,
                        pass.rows, pass.counts.probeTimeouts, pass.counts.longestWaitUs / 1000.0,
                        pass.counts.threadsCreated, pass.counts.threadsTerminated, pass.hits);
            std::fflush(stdout);
        }
        soaking = 0;
        if (watch) CloseHandle(watch);  // it ends with the process
        std::printf(
            "soak: %d rounds, %d stalls, %zu time-outs, longest wait of a row %.1f ms, "
            "%zu threads created, %zu terminated, %d rounds that missed a hit\n",
            load.soakRounds, stalls, timeouts, longest / 1000.0, threads, terminated, lostHits);
    }
    vesperlin::sysinfo::win32::NtApi.NtQueryInformationFile = realFileQuery;
    return 0;
}

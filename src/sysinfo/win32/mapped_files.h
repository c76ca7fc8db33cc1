#pragma once
// Files mapped as data into processes (views of file mappings): a process that mapped a file
// and closed both its handles still keeps the file in use, with no "File" handle and no module
// to show for it. Image mappings (executables and libraries) are the module snapshot's.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/name_tail_filter.h"

namespace vesperlin::sysinfo::win32 {

// What the mapped pass costs, for the benchmark: processes walked, questions about their
// address spaces and about the names of their views.
struct MappedPassCounters {
    std::atomic<std::size_t> processesWalked{0};
    std::atomic<std::size_t> spaceQueries{0};
    std::atomic<std::size_t> nameQueries{0};
};

extern MappedPassCounters mappedPassCounters;

struct MappedFileEntry {
    DWORD ProcessId = 0;
    // As GetMappedFileNameW names the file: its device form on Windows
    // (\Device\HarddiskVolume1\dir\file), the namespace form under Wine (\??\C:\dir\file).
    std::string Name;
};

// The question about another process's address space that may go unanswered: under Wine a
// thread of the other process answers it, and a process that cannot run one (while it starts
// up, say) leaves the asker waiting. Tests may replace it (and must put it back).
using VirtualQueryExFn = SIZE_T(WINAPI*)(HANDLE process, LPCVOID address,
                                         PMEMORY_BASIC_INFORMATION info, SIZE_T length);
extern VirtualQueryExFn mappedRegionQuery;

// How long the walk waits for one answer before it gives the process up.
inline constexpr ULONGLONG MappedWalkAnswerLimitMs = 2000;

// The files mapped as data into `process` (opened with PROCESS_QUERY_INFORMATION |
// PROCESS_VM_READ), each name once, in address order; with a `filter`, only the names it
// admits. Sections backed by the paging file have no name and are left out. `answered`, when
// given, is set to GetTickCount64() whenever a question has been answered. False when the
// address space cannot be read at all.
bool ListMappedFileNames(HANDLE process, const NameTailFilter* filter,
                         std::vector<std::string>& names,
                         std::atomic<ULONGLONG>* answered = nullptr);

class MappedFileSnapshot {
  public:
    // `messages` receives the process snapshot's failure texts and must outlive the snapshot.
    explicit MappedFileSnapshot(Messages& messages) : messages(messages) {}
    MappedFileSnapshot(const MappedFileSnapshot&) = delete;
    MappedFileSnapshot& operator=(const MappedFileSnapshot&) = delete;

    // Keeps only names `filter` admits (wide, as the platform gives them); null keeps every name.
    void LimitNamesTo(std::unique_ptr<NameTailFilter> names) { filter = std::move(names); }
    // Processes the next Refresh leaves alone.
    void Skip(std::vector<DWORD> processes) { skipped = std::move(processes); }

    // Walks every process of a process snapshot, in its index order, on walker threads; a
    // process that leaves a question unanswered for MappedWalkAnswerLimitMs is given up (its
    // walker left to finish by itself) and not walked again while that question is out.
    // False (list empty) when the process list could not be read (reported by the process
    // snapshot).
    bool Refresh();
    const std::vector<MappedFileEntry>& Entries() const { return entries; }
    // Processes of the last Refresh whose address space we may not read, or that stopped
    // answering.
    const std::vector<DWORD>& DeniedProcesses() const { return deniedProcesses; }

  private:
    Messages& messages;
    std::shared_ptr<const NameTailFilter> filter;
    std::vector<DWORD> skipped;
    std::vector<MappedFileEntry> entries;
    std::vector<DWORD> deniedProcesses;
};

}  // namespace vesperlin::sysinfo::win32

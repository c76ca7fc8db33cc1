#pragma once
// The system-wide table of open handles, read at one moment and filtered by owner and by the
// exact name of the object type.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::sysinfo::win32 {

// One row of the system handle table, as far as we use it.
struct HandleEntry {
    DWORD ProcessId = 0;
    HANDLE HandleValue = nullptr;  // valid in the owning process
    ACCESS_MASK GrantedAccess = 0;
    USHORT ObjectTypeIndex = 0;  // the kernel's own index; differs between systems
};

class SnapshotSources;  // what a snapshot opened, and its entries still need

// With a type filter, a row's type is learned once per kernel type index rather than asked of
// every handle (the index is fixed for the life of the system, but differs between systems
// and under Wine): from our own handles where they show it, else from one handle of another
// process. Only where handles of one index disagree is each handle asked. Every owner is
// opened at most once, and stays open with the snapshot for naming its entries.
class HandleSnapshot {
  public:
    static constexpr DWORD AllProcesses = 0xFFFFFFFF;

    // `typeName` null or empty keeps every type.
    explicit HandleSnapshot(DWORD processFilter = AllProcesses, bool refreshNow = false,
                            const char* typeName = nullptr);
    HandleSnapshot(const HandleSnapshot&) = delete;
    HandleSnapshot& operator=(const HandleSnapshot&) = delete;
    ~HandleSnapshot();

    // Stores the filter; with `refreshNow`, the result of Refresh, otherwise true.
    bool SetTypeFilter(const char* typeName, bool refreshNow);

    // Replaces the entries with the rows of a fresh reading that pass both filters. True when
    // the table was read, even if no row passed. Shows no message. A row whose type cannot be
    // read, or whose owner cannot be opened, is left out when a type filter is set.
    bool Refresh();

    // In the order of the system's table.
    const std::vector<HandleEntry>& Entries() const { return entries; }

    // The entries as a probe pool takes them, in the same order: the handle with its owner (open
    // for copying; null for ours), or the copy made while its type was learned, handed over so
    // that no handle is copied twice. An entry whose owner cannot be opened gets no handle.
    // `keepAlive` holds the owners for the pool.
    std::vector<ProbeItem> TakeProbeItems(std::shared_ptr<const void>& keepAlive);

    // The owners of the last reading's rows that we were not allowed to open.
    std::vector<DWORD> DeniedOwners() const;

  private:
    std::vector<HandleEntry> entries;
    DWORD processFilter;
    std::string typeFilter;
    std::shared_ptr<SnapshotSources> sources;
};

// Reads the whole table (every row, no filter) into `rows`. False when it cannot be read.
bool ReadSystemHandleTable(std::vector<HandleEntry>& rows);

}  // namespace vesperlin::sysinfo::win32

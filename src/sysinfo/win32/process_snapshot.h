#pragma once
// The system's process list, read in one native call into one buffer and indexed by process
// identifier. A local object of one operation; entries stay valid until the next Refresh.

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <functional>
#include <string>

#include "sysinfo/messages.h"
#include "sysinfo/process_index.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

using ProcessEntry = SYSTEM_PROCESS_INFORMATION;

class ProcessSnapshot {
  public:
    // `messages` receives the failure texts of Refresh and must outlive the snapshot.
    explicit ProcessSnapshot(Messages& messages, bool refreshNow = false);
    ProcessSnapshot(const ProcessSnapshot&) = delete;
    ProcessSnapshot& operator=(const ProcessSnapshot&) = delete;

    // Re-reads the process list and rebuilds the index; after a failure (reported) the index
    // is empty.
    bool Refresh();

    const ProcessEntry* Lookup(DWORD processId) const { return index.Lookup(processId); }
    // The image name of an entry of this snapshot, read only from inside the list: an entry
    // whose name points elsewhere gets the empty name and false.
    bool ImageName(const ProcessEntry& entry, std::string& name) const;
    std::size_t Count() const { return index.Count(); }
    // Every (identifier, entry) pair in index order.
    void Walk(const std::function<void(DWORD, const ProcessEntry&)>& visit) const {
        index.Walk(visit);
    }

  private:
    bool Allocate(std::size_t bytes);

    Messages& messages;
    ProcessIndex<ProcessEntry> index;
    base::UniqueVirtualMemory buffer;
    std::size_t bufferSize = 0;
    std::size_t listLength = 0;  // bytes of the buffer the last reading wrote
};

}  // namespace vesperlin::sysinfo::win32

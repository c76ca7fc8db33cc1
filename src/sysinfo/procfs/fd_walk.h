#pragma once
// The walk over every process's open descriptors that builds the "File" handle snapshot.

#include <span>
#include <vector>

#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/system.h"

namespace vesperlin::procfs {

struct HandleRow {
    ProcessId processId = 0;
    FileIdentity identity;
};

// The devices of the kernel's internal file systems (pipes, anonymous inodes, memfd, pidfd):
// descriptors on them name nothing in the file system. Learned once by opening one of each.
class PseudoDevices {
  public:
    PseudoDevices();
    bool Contains(dev_t dev) const;

  private:
    dev_t devices[4] = {};
    int count = 0;
};

// Appends one row per descriptor of each listed process that is open on a file or folder of
// the file system, in process order and, within a process, in the kernel's listing order,
// followed by a row for the process's current folder.
// Processes whose descriptors the user may not see are appended to `denied`; processes that
// ended meanwhile are left out silently.
void WalkFileHandles(int procFd, std::span<const ProcessId> processIds, const PseudoDevices& pseudo,
                     std::vector<HandleRow>& rows, std::vector<ProcessId>& denied);

}  // namespace vesperlin::procfs

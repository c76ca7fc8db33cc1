#pragma once
// The walk over every process's open descriptors, current and root folders that builds the
// "File" handle snapshot.

#include <cstdint>
#include <span>
#include <vector>

#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/system.h"

namespace vesperlin::sysinfo::procfs {

// HandleRow::descriptor of the rows that are no descriptor.
inline constexpr std::int32_t kCurrentFolderRow = -1;
inline constexpr std::int32_t kRootFolderRow = -2;

struct HandleRow {
    ProcessId processId = 0;
    std::int32_t descriptor = 0;  // the descriptor's number, or one of the k...Row values
    FileIdentity identity;
};

// Devices of the kernel's internal file systems that need care. Every anonymous-inode
// descriptor (eventfd, epoll, timerfd, signalfd, older pidfds) shares one inode: its identity
// tells one object from no other, so such descriptors name nothing. Sockets live on a file
// system of their own, where the sockets bound to a socket file are found. Learned once by
// opening one of each.
class KernelDevices {
  public:
    KernelDevices();
    bool SharesInodes(dev_t dev) const { return anonymousKnown && dev == anonymousDev; }
    // False when this kernel would not give us a socket.
    bool SocketDevice(dev_t& dev) const {
        dev = socketDev;
        return socketKnown;
    }

  private:
    dev_t anonymousDev = 0;
    dev_t socketDev = 0;
    bool anonymousKnown = false;
    bool socketKnown = false;
};

// Appends, for each listed process in order, one row per open descriptor in the kernel's
// listing order (files, folders, pipes, sockets and memory files alike, but no
// anonymous-inode descriptor), then a row for its current folder and one for its root folder.
// Processes whose descriptors the user may not see are appended to `denied`; processes that
// ended meanwhile are left out silently.
void WalkFileHandles(int procFd, std::span<const ProcessId> processIds, const KernelDevices& kernel,
                     std::vector<HandleRow>& rows, std::vector<ProcessId>& denied);

}  // namespace vesperlin::sysinfo::procfs

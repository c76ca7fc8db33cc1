#pragma once
// UNIX sockets bound to a path: a socket file in the file system is only a name, and the
// processes that use it hold the socket bound to that name, whose own identity lies on the
// kernel's socket file system. /proc/net/unix ties the two together.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "sysinfo/procfs/file_identity.h"

namespace vesperlin::sysinfo::procfs {

struct BoundUnixSocket {
    ino_t inode = 0;   // on the socket file system
    std::string path;  // as the binding process gave it
};

// The entries of a /proc/net/unix table that are bound to a path in the file system, in table
// order: unbound sockets and abstract names (shown with a leading '@') are left out, and so
// are lines that do not read as entries.
std::vector<BoundUnixSocket> ParseUnixSocketTable(std::string_view text);

// The identities (on `socketDevice`) of the sockets bound to the socket file `file`, as the
// table of our network namespace lists them. A table path is taken only when it still names
// `file`: a path may be relative to the binder's folder, or the file replaced since.
std::vector<FileIdentity> SocketsBoundTo(FileIdentity file, dev_t socketDevice);

}  // namespace vesperlin::sysinfo::procfs

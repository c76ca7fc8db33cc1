#pragma once
// The seam's "File" handle snapshot: the rows of the system handle table whose object type is
// "File", named as ResolveHandleName names them, at a cost that suits thousands of handles.

#include <memory>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::win32 {

// Threads one visit starts when no probe times out: the probe workers and the thread that
// closes the copies already named.
inline constexpr std::size_t HandlePassThreads = ProbePoolSize + 1;

// Reads the system handle table once and keeps the rows of type "File" of every process whose
// handle can be copied into ours. For the snapshot's life each owner is opened at most once and
// each of its file handles copied once; everything is closed when the snapshot goes. A type is
// learned once per kernel type index. Names are probed on a few worker threads, so that handles
// whose name query hangs cost about one time limit together; rows are still visited in table
// order; a copy is closed (on a thread of its own) as soon as its row has been visited, so a
// snapshot is visited once. Never null. A table that cannot be read gives an empty snapshot and no
// message of its own: the caller reports the empty snapshot.
std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages& messages);

}  // namespace vesperlin::win32

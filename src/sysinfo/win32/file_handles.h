#pragma once
// The seam's "File" handle snapshot: the rows of the system handle table whose object type is
// "File", named as ResolveHandleName names them, at a cost that suits thousands of handles.

#include <windows.h>

#include <memory>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::win32 {

// Threads one visit starts when no probe times out: the workers of its naming pool.
inline constexpr std::size_t HandlePassThreads = ProbePoolSize;

// Reads the system handle table once and keeps the rows of type "File" of every process that
// can be opened for copying its handles. For the snapshot's life each owner is opened at most
// once; a type is learned once per kernel type index. A visit copies each handle once, on the
// workers of a naming pool that probe, name and close the copies ahead of the visit, so that
// handles whose name query hangs cost about one time limit together; rows are still visited in
// table order, and a row whose handle could not be copied is visited unnamed. Everything is
// closed by the time the snapshot goes. Never null. A table that cannot be read gives an empty
// snapshot and no message of its own: the caller reports the empty snapshot. `deniedOwners`,
// when given, receives the owners that we were not allowed to open.
std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(
    Messages& messages, std::vector<DWORD>* deniedOwners = nullptr);

}  // namespace vesperlin::win32

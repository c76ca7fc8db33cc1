#pragma once
// The seam's "File" handle snapshot on Windows: a HandleSnapshot of every process with the type
// filter "File", named row by row through a probe pool.

#include <windows.h>

#include <memory>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::sysinfo::win32 {

// Threads one visit starts when no probe times out: the workers of its probe pool.
inline constexpr std::size_t HandlePassThreads = ProbePoolSize;

// The rows of the system handle table whose object type is "File", of every process that can
// be opened for copying its handles, named as ResolveHandleName names them at a cost that
// suits thousands of handles: each owner opened once, each type learned once per kernel type
// index, each handle copied once by a pool worker that probes, names and closes it ahead of the
// visit. Rows are visited in table order; a row whose handle could not be copied is visited
// unnamed. Everything is closed by the time the snapshot goes. Never null. A table that cannot
// be read gives an empty snapshot and no message of its own: the caller reports it.
// `deniedOwners`, when given, receives the owners that we were not allowed to open.
std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(
    Messages& messages, std::vector<DWORD>* deniedOwners = nullptr);

}  // namespace vesperlin::sysinfo::win32

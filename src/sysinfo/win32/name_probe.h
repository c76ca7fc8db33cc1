#pragma once
// The file-name probe of one handle: its file name is asked on a worker thread that gets a
// fixed time and is terminated when it has not finished, because name queries on some
// handles (a synchronous pipe with a blocked reader) never return. It runs on a probe pool of
// one (probe_pool.h), the same engine that probes the handles of a whole snapshot.

#include <windows.h>

namespace vesperlin::sysinfo::win32 {

inline constexpr DWORD ProbeTimeLimitMs = 100;

enum class ProbeOutcome { Finished, TimedOut, NotRun };

// Brings `handle` (of process `owner`) over and probes it. NotRun when the native interface
// is missing, the owner cannot be opened, or no worker could be started.
ProbeOutcome ProbeFileName(HANDLE handle, DWORD owner);

}  // namespace vesperlin::sysinfo::win32

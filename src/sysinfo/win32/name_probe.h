#pragma once
// The file-name probe: asks a file handle for its name on a worker thread that gets a fixed
// time and is terminated when it has not finished, because name queries on some handles (a
// synchronous pipe with a blocked reader) never return.

#include <windows.h>

namespace vesperlin::win32 {

inline constexpr DWORD ProbeTimeLimitMs = 100;

// Shared by the caller and its worker, and nothing else is. The worker writes `status` once,
// after its native call has returned; the caller reads it only when the worker finished.
struct FileNameProbe {
    HANDLE handle = nullptr;
    volatile LONG status = 0;
};

// The worker: one NtQueryInformationFile (file name information) with its reply on its own
// stack, then the status into the record. It may be terminated at any instruction, so it
// allocates nothing, takes no lock and calls nothing else.
DWORD WINAPI FileNameProbeWorker(LPVOID probe);

enum class ProbeOutcome { Finished, TimedOut, NotRun };

// Brings `handle` (of process `owner`) over and probes it.
ProbeOutcome ProbeFileName(HANDLE handle, DWORD owner);

// Probes a handle that is already valid in our process.
ProbeOutcome ProbeLocalFileName(HANDLE local);

}  // namespace vesperlin::win32

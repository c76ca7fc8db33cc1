#pragma once
// Bringing a handle of another process into ours, and the counters that tell what the handle
// pass costs (processes opened, handles copied, probe threads started, probes timed out).

#include <windows.h>

#include <cstddef>

namespace vesperlin::win32 {

// Touched only by the thread that runs the handle pass; probe workers never count.
struct HandlePassCounters {
    std::size_t processesOpened = 0;
    std::size_t handlesCopied = 0;
    std::size_t threadsCreated = 0;
    std::size_t probeTimeouts = 0;
};

extern HandlePassCounters handlePassCounters;

// OpenProcessForDuplicate and DuplicateIntoSelf, counted.
HANDLE OpenOwnerProcess(DWORD processId);
HANDLE CopyHandleIntoSelf(HANDLE ownerProcess, HANDLE handle);

// A handle of some process, usable in ours for the life of the object: a handle of our own
// process is used in place (nothing opened, nothing closed); otherwise the owner is opened and
// the handle copied, and both are closed again at the end.
class ForeignHandle {
  public:
    ForeignHandle(HANDLE handle, DWORD owner);
    ForeignHandle(const ForeignHandle&) = delete;
    ForeignHandle& operator=(const ForeignHandle&) = delete;
    ~ForeignHandle();
    // False when the owner could not be opened.
    bool Ok() const { return ok; }
    // The handle in our process; null when the copy failed.
    HANDLE Get() const { return local; }

  private:
    HANDLE ownerProcess = nullptr;
    HANDLE copy = nullptr;
    HANDLE local = nullptr;
    bool ok = false;
};

}  // namespace vesperlin::win32

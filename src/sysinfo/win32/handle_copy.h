#pragma once
// The small cross-process tools that handle inspection shares: opening an owner, copying one
// of its handles into our process, and asking what process or thread a handle refers to.

#include <windows.h>

#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

// OpenProcess with PROCESS_DUP_HANDLE; empty on failure (GetLastError says why).
base::UniqueProcess OpenProcessForDuplicate(DWORD processId);

// Copies `sourceHandle` of `sourceProcess` into our process with the same access; empty on
// failure.
base::UniqueKernelHandle DuplicateIntoSelf(HANDLE sourceProcess, HANDLE sourceHandle);

// The identifier of the process / thread a handle refers to. `handle` is valid in `owner`;
// the output is 0 when the query fails.
bool GetProcessIdOfHandle(HANDLE handle, DWORD& processId, DWORD owner);
bool GetThreadIdOfHandle(HANDLE handle, DWORD& threadId, DWORD owner);

// A handle of another process brought into ours for the time of one operation; a handle of
// our own process is used in place and nothing is opened or closed for it.
class BroughtHandle {
  public:
    BroughtHandle(HANDLE handle, DWORD owner);
    BroughtHandle(const BroughtHandle&) = delete;
    BroughtHandle& operator=(const BroughtHandle&) = delete;
    // False when the owner could not be opened (the operation then fails at once).
    bool Ok() const { return ok; }
    // The handle to work on in our own process (may be null when the copy failed).
    HANDLE Get() const { return local; }

  private:
    // The copy is released before its owner, in the reverse order of their making.
    base::UniqueProcess ownerProcess;
    base::UniqueKernelHandle copy;
    HANDLE local = nullptr;
    bool ok = false;
};

}  // namespace vesperlin::sysinfo::win32

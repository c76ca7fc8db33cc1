#include "sysinfo/win32/handle_access.h"

#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

HandlePassCounters handlePassCounters;

HANDLE OpenOwnerProcess(DWORD processId) {
    ++handlePassCounters.processesOpened;
    return OpenProcessForDuplicate(processId);
}

HANDLE CopyHandleIntoSelf(HANDLE ownerProcess, HANDLE handle) {
    ++handlePassCounters.handlesCopied;
    return DuplicateIntoSelf(ownerProcess, handle);
}

ForeignHandle::ForeignHandle(HANDLE handle, DWORD owner) {
    if (owner == GetCurrentProcessId()) {
        local = handle;
        ok = true;
        return;
    }
    ownerProcess = OpenOwnerProcess(owner);
    if (!ownerProcess) return;
    copy = CopyHandleIntoSelf(ownerProcess, handle);
    local = copy;
    ok = true;
}

ForeignHandle::~ForeignHandle() {
    if (copy) CloseHandle(copy);
    if (ownerProcess) CloseHandle(ownerProcess);
}

}  // namespace vesperlin::win32

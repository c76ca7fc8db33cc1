#include "sysinfo/win32/handle_copy.h"

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::sysinfo::win32 {

base::UniqueProcess OpenProcessForDuplicate(DWORD processId) {
    // Not inheritable: a copy must never leak into a process we start.
    ++handlePassCounters.processesOpened;
    return base::UniqueProcess(OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
}

base::UniqueKernelHandle DuplicateIntoSelf(HANDLE sourceProcess, HANDLE sourceHandle) {
    ++handlePassCounters.handlesCopied;
    base::UniqueKernelHandle copy;
    if (!DuplicateHandle(sourceProcess, sourceHandle, GetCurrentProcess(), copy.put(), 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return base::UniqueKernelHandle();
    return copy;
}

BroughtHandle::BroughtHandle(HANDLE handle, DWORD owner) {
    if (owner == GetCurrentProcessId()) {
        local = handle;
        ok = true;
        return;
    }
    ownerProcess = OpenProcessForDuplicate(owner);
    if (!ownerProcess) return;
    copy = DuplicateIntoSelf(ownerProcess.get(), handle);
    local = copy.get();
    ok = true;
}

bool GetProcessIdOfHandle(HANDLE handle, DWORD& processId, DWORD owner) {
    processId = 0;
    if (!ntApiBound) return false;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    PROCESS_BASIC_INFORMATION info{};
    if (NtApi.NtQueryInformationProcess(brought.Get(), kProcessBasicInformation, &info,
                                        sizeof(info), nullptr) != 0)
        return false;
    processId = static_cast<DWORD>(info.UniqueProcessId);
    return true;
}

bool GetThreadIdOfHandle(HANDLE handle, DWORD& threadId, DWORD owner) {
    // A failed query answers false with 0, like the process query, rather than claiming a
    // thread identifier it never read.
    threadId = 0;
    if (!ntApiBound) return false;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    THREAD_BASIC_INFORMATION info{};
    if (NtApi.NtQueryInformationThread(brought.Get(), kThreadBasicInformation, &info, sizeof(info),
                                       nullptr) != 0)
        return false;
    threadId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.ClientId.UniqueThread));
    return true;
}

}  // namespace vesperlin::sysinfo::win32

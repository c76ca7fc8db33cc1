#pragma once
// The five native entry points of ntdll.dll, bound by name once at start-up, and the small
// cross-process tools that handle inspection shares.

#include <windows.h>
#include <winternl.h>

#include <cstdint>

#include "sysinfo/messages.h"

namespace vesperlin::win32 {

using NtQuerySystemInformationFn = NTSTATUS(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length,
                                                    PULONG returnLength);
using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                         PULONG returnLength);
using NtQueryInformationThreadFn = NTSTATUS(NTAPI*)(HANDLE thread, ULONG infoClass, PVOID buffer,
                                                    ULONG length, PULONG returnLength);
using NtQueryInformationFileFn = NTSTATUS(NTAPI*)(HANDLE file, PIO_STATUS_BLOCK statusBlock,
                                                  PVOID buffer, ULONG length, ULONG infoClass);
using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE process, ULONG infoClass, PVOID buffer,
                                                     ULONG length, PULONG returnLength);

// Written once by BindNtApi before any other thread exists; tests may replace single entries
// (and must put them back) to script the platform's answers.
struct NtApiTable {
    NtQuerySystemInformationFn NtQuerySystemInformation = nullptr;
    NtQueryObjectFn NtQueryObject = nullptr;
    NtQueryInformationThreadFn NtQueryInformationThread = nullptr;
    NtQueryInformationFileFn NtQueryInformationFile = nullptr;
    NtQueryInformationProcessFn NtQueryInformationProcess = nullptr;
};

extern NtApiTable NtApi;
extern bool ntApiBound;

// Looks the five names up in the already loaded ntdll.dll; true only when all were found.
// Runs during static initialisation (see nt_api.cpp); nothing else calls it.
bool BindNtApi();

// Enables SeDebugPrivilege in our own token; "Your are not an Administrator." through
// `messages` when the token cannot be opened, the privilege not looked up or the call fails.
bool EnableDebugPrivilege(Messages& messages);

// Whether SeDebugPrivilege is enabled in our own token (false when the token cannot be read).
bool DebugPrivilegeEnabled();

// OpenProcess with PROCESS_DUP_HANDLE; null on failure.
HANDLE OpenProcessForDuplicate(DWORD processId);

// Copies `sourceHandle` of `sourceProcess` into our process with the same access; null on failure.
HANDLE DuplicateIntoSelf(HANDLE sourceProcess, HANDLE sourceHandle);

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
    ~BroughtHandle();
    // False when the owner could not be opened (the operation then fails at once).
    bool Ok() const { return ok; }
    // The handle to work on in our own process (may be null when the copy failed).
    HANDLE Get() const { return local; }

  private:
    HANDLE ownerProcess = nullptr;
    HANDLE copy = nullptr;
    HANDLE local = nullptr;
    bool ok = false;
};

}  // namespace vesperlin::win32

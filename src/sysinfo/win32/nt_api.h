#pragma once
// The five native entry points of ntdll.dll, bound by name once at start-up. Their records,
// classes and status codes are in native_definitions.h.

#include <windows.h>
#include <winternl.h>

namespace vesperlin::sysinfo::win32 {

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

}  // namespace vesperlin::sysinfo::win32

#include "sysinfo/win32/nt_api.h"

namespace vesperlin::sysinfo::win32 {

namespace {

template <typename Fn>
bool Bind(HMODULE ntdll, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
    return entry != nullptr;
}

}  // namespace

NtApiTable NtApi;
// Bound before any code of ours runs, so that every later reader sees a finished table.
bool ntApiBound = BindNtApi();

bool BindNtApi() {
    // ntdll.dll is mapped into every process; we never load it ourselves.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll) return false;
    bool all = true;
    all &= Bind(ntdll, "NtQuerySystemInformation", NtApi.NtQuerySystemInformation);
    all &= Bind(ntdll, "NtQueryObject", NtApi.NtQueryObject);
    all &= Bind(ntdll, "NtQueryInformationThread", NtApi.NtQueryInformationThread);
    all &= Bind(ntdll, "NtQueryInformationFile", NtApi.NtQueryInformationFile);
    all &= Bind(ntdll, "NtQueryInformationProcess", NtApi.NtQueryInformationProcess);
    return all;
}

}  // namespace vesperlin::sysinfo::win32

#include "sysinfo/win32/nt_api.h"

#include "sysinfo/win32/handle_access.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/win32/unique_handle.h"

namespace vesperlin::win32 {

namespace {

// winternl.h has no record for class 0 of NtQueryInformationThread; this is the platform's
// layout (28 bytes with the thread identifier at 12 in a 32-bit process, 48 and 24 in ours).
struct ThreadBasicInformation {
    NTSTATUS ExitStatus;
    PVOID TebBaseAddress;
    CLIENT_ID ClientId;
    KAFFINITY AffinityMask;
    LONG Priority;
    LONG BasePriority;
};

#ifdef _WIN64
static_assert(sizeof(ThreadBasicInformation) == 48);
static_assert(offsetof(ThreadBasicInformation, ClientId) + offsetof(CLIENT_ID, UniqueThread) == 24);
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == 48);
static_assert(offsetof(PROCESS_BASIC_INFORMATION, UniqueProcessId) == 32);
#else
static_assert(sizeof(ThreadBasicInformation) == 28);
static_assert(offsetof(ThreadBasicInformation, ClientId) + offsetof(CLIENT_ID, UniqueThread) == 12);
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == 24);
static_assert(offsetof(PROCESS_BASIC_INFORMATION, UniqueProcessId) == 16);
#endif

constexpr ULONG kBasicInformation = 0;
constexpr char kNotAdministrator[] = "Your are not an Administrator.";

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

bool EnableDebugPrivilege(Messages& messages) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) {
        messages.Show(kNotAdministrator);
        return false;
    }
    base::UniqueKernelHandle token(rawToken);
    TOKEN_PRIVILEGES request{};
    if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &request.Privileges[0].Luid)) {
        messages.Show(kNotAdministrator);
        return false;
    }
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Only the call's own result counts: a privilege the platform declines to grant is not
    // an error the user can do anything about, and we go on with what we can see.
    if (!AdjustTokenPrivileges(token.get(), FALSE, &request, sizeof(request), nullptr, nullptr))
        messages.Show(kNotAdministrator);
    return true;
}

bool DebugPrivilegeEnabled() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
    base::UniqueKernelHandle token(rawToken);
    LUID debug{};
    if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &debug)) return false;
    DWORD bytes = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &bytes);
    if (bytes < sizeof(TOKEN_PRIVILEGES)) return false;
    std::vector<LUID_AND_ATTRIBUTES> buffer(bytes / sizeof(LUID_AND_ATTRIBUTES) + 1);
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), bytes, &bytes))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    // The count is the platform's; the entries read never go past what it wrote.
    const std::size_t room =
        (bytes - offsetof(TOKEN_PRIVILEGES, Privileges)) / sizeof(LUID_AND_ATTRIBUTES);
    const std::size_t count = std::min<std::size_t>(privileges->PrivilegeCount, room);
    for (std::size_t i = 0; i < count; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == debug.LowPart && entry.Luid.HighPart == debug.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

HANDLE OpenProcessForDuplicate(DWORD processId) {
    // Not inheritable: a copy must never leak into a process we start.
    ++handlePassCounters.processesOpened;
    return OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId);
}

HANDLE DuplicateIntoSelf(HANDLE sourceProcess, HANDLE sourceHandle) {
    ++handlePassCounters.handlesCopied;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(sourceProcess, sourceHandle, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
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
    copy = DuplicateIntoSelf(ownerProcess, handle);
    local = copy;
    ok = true;
}

BroughtHandle::~BroughtHandle() {
    if (copy) CloseHandle(copy);
    if (ownerProcess) CloseHandle(ownerProcess);
}

bool GetProcessIdOfHandle(HANDLE handle, DWORD& processId, DWORD owner) {
    processId = 0;
    if (!ntApiBound) return false;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    PROCESS_BASIC_INFORMATION info{};
    if (NtApi.NtQueryInformationProcess(brought.Get(), kBasicInformation, &info, sizeof(info),
                                        nullptr) != 0)
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
    ThreadBasicInformation info{};
    if (NtApi.NtQueryInformationThread(brought.Get(), kBasicInformation, &info, sizeof(info),
                                       nullptr) != 0)
        return false;
    threadId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.ClientId.UniqueThread));
    return true;
}

}  // namespace vesperlin::win32

#include "sysinfo/win32/token_privilege.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

namespace {
constexpr char kNotAdministrator[] = "Your are not an Administrator.";
}  // namespace

bool EnableDebugPrivilege(Messages& messages) {
    base::UniqueToken token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.put())) {
        messages.Show(kNotAdministrator);
        return false;
    }
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
    base::UniqueToken token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
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

}  // namespace vesperlin::sysinfo::win32

#pragma once
// The debug privilege in our own token, which lets inspection open other users' processes.

#include "sysinfo/messages.h"

namespace vesperlin::sysinfo::win32 {

// Enables SeDebugPrivilege in our own token; "Your are not an Administrator." through
// `messages` when the token cannot be opened, the privilege not looked up or the call fails.
bool EnableDebugPrivilege(Messages& messages);

// Whether SeDebugPrivilege is enabled in our own token (false when the token cannot be read).
bool DebugPrivilegeEnabled();

}  // namespace vesperlin::sysinfo::win32

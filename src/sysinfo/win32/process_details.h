#pragma once
// What the console's long forms show of a Windows process: the account its token runs as, its
// program's full path and its command line.

#include <windows.h>

#include "sysinfo/system.h"

namespace vesperlin::sysinfo::win32 {

// Empty fields could not be read (another user's process without the debug privilege, a
// protected one). False when the process cannot be opened at all.
bool ReadProcessDetails(DWORD processId, ProcessDetails& details);

}  // namespace vesperlin::sysinfo::win32

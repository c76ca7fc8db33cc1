#pragma once
// Names of handles: "PID: 0x..." and "TID: 0x..." for process and thread handles, the object
// name for everything else. A file is probed and named on a worker under the time limit.

#include <windows.h>

#include <string>

#include "sysinfo/win32/object_types.h"

namespace vesperlin::sysinfo::win32 {

// The name of `handle` (of process `owner`) for a handle of our type number `type`. A file
// whose probe timed out gets an empty name and true. False when the owner cannot be opened,
// the name query fails, or no worker could be started for a file; `name` is then unchanged.
bool QueryHandleName(HANDLE handle, ObjectTypeNumber type, std::string& name, DWORD owner);

// The object name of a handle of our process (NtQueryObject, object name information), asked
// on this thread: never for a file, whose name query may hang.
bool QueryLocalObjectName(HANDLE local, std::string& name);

// The type, then the name. False (and `name` unchanged) when either cannot be had.
bool ResolveHandleName(HANDLE handle, std::string& name, DWORD owner);

}  // namespace vesperlin::sysinfo::win32

#pragma once
// Names of handles: "PID: 0x..." and "TID: 0x..." for process and thread handles, the object
// name for everything else, with the file-name probe first for files.

#include <windows.h>

#include <string>

#include "sysinfo/win32/object_types.h"

namespace vesperlin::win32 {

// The name of `handle` (of process `owner`) for a handle of our type number `type`. A file
// whose probe timed out gets an empty name and true. False when the owner cannot be opened or
// the name query fails; `name` is then unchanged.
bool QueryHandleName(HANDLE handle, ObjectTypeNumber type, std::string& name, DWORD owner);

// The same for a handle already valid in our process.
bool QueryLocalHandleName(HANDLE local, ObjectTypeNumber type, std::string& name);

// The object name alone (NtQueryObject, object name information), without a probe.
bool QueryLocalObjectName(HANDLE local, std::string& name);
// The same with a reply buffer that the caller keeps for many queries.
bool QueryLocalObjectName(HANDLE local, std::string& name, ObjectReply& reply);

// The type, then the name. False (and `name` unchanged) when either cannot be had.
bool ResolveHandleName(HANDLE handle, std::string& name, DWORD owner);

}  // namespace vesperlin::win32

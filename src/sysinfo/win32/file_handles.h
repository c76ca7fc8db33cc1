#pragma once
// The seam's "File" handle snapshot, built on HandleSnapshot and ResolveHandleName.

#include <memory>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::win32 {

// Reads the system handle table once and keeps the rows of type "File" of every process.
// Never null. A table that cannot be read gives an empty snapshot and no message of its own:
// the caller reports the empty snapshot.
std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages& messages);

}  // namespace vesperlin::win32

#pragma once
// The seam's "File" handle snapshot, built on HandleSnapshot and ResolveHandleName.

#include <memory>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::win32 {

// Reads the system handle table once and keeps the rows of type "File" of every process.
// Never null; when the table cannot be read the failure goes to `messages` and the snapshot
// is empty.
std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages& messages);

}  // namespace vesperlin::win32

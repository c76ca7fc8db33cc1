#pragma once
// The system seam of the platform we are built for: sysinfo/win32 on Windows, sysinfo/procfs
// on Linux. Each of those libraries defines this one function.

#include <memory>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::sysinfo {

// `messages` receives the failure texts of the snapshots and must outlive the result.
std::unique_ptr<System> CreatePlatformSystem(Messages& messages);

}  // namespace vesperlin::sysinfo

#include "sysinfo/win32/name_probe.h"

#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::sysinfo::win32 {

ProbeOutcome ProbeFileName(HANDLE handle, DWORD owner) {
    if (!ntApiBound) return ProbeOutcome::NotRun;
    ProbeItem item;
    std::shared_ptr<const void> ownerProcess;
    if (!SingleProbeItem(handle, owner, item, ownerProcess)) return ProbeOutcome::NotRun;
    ProbePoolOptions options;
    options.keepAlive = std::move(ownerProcess);
    options.workers = 1;
    ProbePool pool({item}, std::move(options));
    return pool.Await(0);
}

}  // namespace vesperlin::sysinfo::win32

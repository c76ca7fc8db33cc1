#include "sysinfo/win32/name_probe.h"

#include <memory>

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/unique_handle.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kFileNameInformation = 9;
constexpr ULONG kProbeReplyLength = 4096;
// The worker needs little: its reply, the status block and the native call's own frames.
constexpr SIZE_T kProbeStackReserve = 64 * 1024;
// A terminated thread ends promptly; if it has not ended after this, whatever it might still
// touch is left to it.
constexpr DWORD kTerminationWaitMs = 5000;

}  // namespace

DWORD WINAPI FileNameProbeWorker(LPVOID parameter) {
    auto* probe = static_cast<FileNameProbe*>(parameter);
    IO_STATUS_BLOCK statusBlock;
    alignas(8) unsigned char reply[kProbeReplyLength];
    probe->status = NtApi.NtQueryInformationFile(probe->handle, &statusBlock, reply,
                                                 kProbeReplyLength, kFileNameInformation);
    return 0;
}

ProbeOutcome ProbeLocalFileName(HANDLE local) {
    if (!ntApiBound) return ProbeOutcome::NotRun;
    // On the heap, so that a worker that will not die can keep it.
    auto probe = std::make_unique<FileNameProbe>();
    probe->handle = local;
    UniqueKernelHandle worker(CreateThread(nullptr, kProbeStackReserve, FileNameProbeWorker,
                                           probe.get(), STACK_SIZE_PARAM_IS_A_RESERVATION,
                                           nullptr));
    if (!worker) return ProbeOutcome::NotRun;
    ++handlePassCounters.threadsCreated;
    if (WaitForSingleObject(worker.get(), ProbeTimeLimitMs) == WAIT_OBJECT_0)
        return ProbeOutcome::Finished;
    // Timed out (or the wait itself failed, which leaves the worker just as unaccounted for).
    ++handlePassCounters.probeTimeouts;
    TerminateThread(worker.get(), 0);
    // Termination is asynchronous: the record and the probed handle stay untouched until the
    // thread object is signalled.
    if (WaitForSingleObject(worker.get(), kTerminationWaitMs) != WAIT_OBJECT_0)
        probe.release();  // deliberately leaked: the worker may still write into it
    return ProbeOutcome::TimedOut;
}

ProbeOutcome ProbeFileName(HANDLE handle, DWORD owner) {
    if (!ntApiBound) return ProbeOutcome::NotRun;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return ProbeOutcome::NotRun;
    return ProbeLocalFileName(brought.Get());
}

}  // namespace vesperlin::win32

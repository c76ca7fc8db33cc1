#include "sysinfo/win32/probe_records.h"

#include <cstdint>
#include <utility>

#include "sysinfo/native_records.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/object_types.h"

namespace vesperlin::sysinfo::win32 {

using namespace probe;

namespace {

constexpr ULONG kProbeReplyLength = 4096;

// Whether the path a finished probe read may belong to a looked-for file. A probe that failed,
// or whose path did not fit, tells nothing: its handle is named as any other.
bool ProbeAdmits(const NameTailFilter& filter, NTSTATUS status, const unsigned char* reply) {
    if (status != 0) return true;
    const auto* info = reinterpret_cast<const FILE_NAME_INFORMATION*>(reply);
    if (info->FileNameLength > kProbeReplyLength - sizeof(ULONG)) return true;
    return filter.Admits(reinterpret_cast<const char16_t*>(info->FileName),
                         info->FileNameLength / sizeof(WCHAR));
}

// The steps of one job as the worker reports them. Each step fails once the caller has
// marked the worker to stop: it then ends itself at once. Its frames own nothing, so ending
// here leaks nothing; a thread that ends by itself also gives its stack back, which one
// terminated from outside does not under Wine.
class JobSteps {
  public:
    JobSteps(ProbePool::Slot& slot, LONG job, LONGLONG now) : slot(slot), job(job) {
        InterlockedExchange64(&slot.startedAt, now);
        InterlockedIncrement(&slot.jobsBegun);
        InterlockedExchange64(&slot.state, OnJob(job, 0));
    }
    void EnterQuery() {
        const LONG64 from = OnJob(job, query++);
        InterlockedExchange64(&slot.queryStartedAt, Ticks());
        Step(from, OnJob(job, query) | kInQuery);
    }
    void LeaveQuery() { Step(OnJob(job, query) | kInQuery, OnJob(job, query)); }
    void End() { Step(OnJob(job, query), kIdle); }

  private:
    void Step(LONG64 from, LONG64 to) {
        if (InterlockedCompareExchange64(&slot.state, to, from) == from) return;
        InterlockedExchange64(&slot.state, kLeaving);
        ExitThread(0);
    }

    ProbePool::Slot& slot;
    const LONG job;
    LONG query = 0;
};

// The object name of `local` into the shared store. Runs on a worker: no allocation, no lock.
void ReadNameOnWorker(ProbePool::Shared& shared, ProbePool::Slot& slot, FileNameProbe& item,
                      HANDLE local, JobSteps& steps) {
    const LONG again = shared.largeReplies ? kNameFailed : kNameAgain;
    ULONG needed = 0;
    steps.EnterQuery();
    const NTSTATUS status =
        NtApi.NtQueryObject(local, kObjectNameInformation, slot.reply, slot.replyLength, &needed);
    steps.LeaveQuery();
    if (status != 0) {
        item.name = ObjectReplyTooSmall(status) ? again : kNameFailed;
        return;
    }
    TextSpan text;
    if (!LocateReplyText(ByteSpan(slot.reply, slot.replyLength),
                         reinterpret_cast<std::uintptr_t>(slot.reply), 0, text)) {
        item.name = kNameFailed;
        return;
    }
    const LONG units = static_cast<LONG>(text.units);
    LONG offset;
    do {
        offset = Fetch(shared.namesUsed);
        if (offset > shared.namesCapacity - units) {
            item.name = again;
            return;
        }
    } while (InterlockedCompareExchange(&shared.namesUsed, offset + units, offset) != offset);
    // Copied unit by unit from the bytes: the text need not be aligned for wide reads.
    const unsigned char* from = slot.reply + text.offset;
    wchar_t* to = shared.names.get() + offset;
    for (LONG i = 0; i < units; ++i)
        to[i] = static_cast<wchar_t>(from[2 * i] | (from[2 * i + 1] << 8));
    item.nameOffset = offset;
    item.nameUnits = units;
    item.name = kNameRead;
}

// Copies (unless the handle is ours), probes and, in a naming pool, names one item.
void ProbeOnWorker(ProbePool::Shared& shared, ProbePool::Slot& slot, FileNameProbe& item,
                   JobSteps& steps) {
    HANDLE local = item.copy ? item.copy : item.handle;
    if (!item.copy && item.owner) {
        // The platform writes the copy straight into the item, so that the caller finds and
        // closes it even when this worker is ended right after the copy.
        if (!DuplicateHandle(item.owner, item.handle, GetCurrentProcess(), &item.copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            item.name = kCopyFailed;
            return;
        }
        item.copied = 1;
        local = item.copy;
    }
    IO_STATUS_BLOCK statusBlock;
    alignas(8) unsigned char reply[kProbeReplyLength];
    steps.EnterQuery();
    item.status = NtApi.NtQueryInformationFile(local, &statusBlock, reply, kProbeReplyLength,
                                               kFileNameInformation);
    steps.LeaveQuery();
    if (!shared.naming) return;
    if (shared.filter && !ProbeAdmits(*shared.filter, item.status, reply)) {
        item.name = kNameSkipped;
        return;
    }
    ReadNameOnWorker(shared, slot, item, local, steps);
}

bool TakeClose(ProbePool::Shared& shared, LONG& place) {
    for (;;) {
        const LONG taken = Fetch(shared.closesTaken);
        if (taken >= Fetch(shared.closesQueued)) return false;
        if (InterlockedCompareExchange(&shared.closesTaken, taken + 1, taken) == taken) {
            place = taken;
            return true;
        }
    }
}

}  // namespace

// Closes what it is given, then takes items until none is left. It may be terminated while it
// is blocked in a query of a job, so it allocates nothing, takes no lock and calls only the
// platform's handle and query functions and SetEvent.
DWORD WINAPI FileNameProbeWorker(LPVOID parameter) {
    auto* slot = static_cast<ProbePool::Slot*>(parameter);
    ProbePool::Shared* shared = slot->shared;
    for (;;) {
        LONG place;
        if (TakeClose(*shared, place)) {
            JobSteps steps(*slot, shared->count + place, Ticks());
            // It leaves the queue before it is closed: a worker ended in between leaks it
            // rather than have it closed twice.
            if (HANDLE copy = InterlockedExchangePointer(&shared->closes[place], nullptr))
                CloseHandle(copy);
            steps.End();
            continue;
        }
        if (Fetch(shared->stop)) break;
        const LONG index = InterlockedIncrement(&shared->next) - 1;
        if (index >= shared->count) break;
        FileNameProbe& item = shared->items[index];
        const LONGLONG now = Ticks();
        InterlockedExchange64(&item.began, now);
        JobSteps steps(*slot, index, now);
        ProbeOnWorker(*shared, *slot, item, steps);
        // Done with the copy unless its name is to be asked again. Taken out of the item first,
        // for the same reason as a queued one.
        HANDLE done = nullptr;
        if (item.name != kNameAgain) std::swap(done, item.copy);
        InterlockedExchange(&item.state, kFinished);
        if (shared->progress && Fetch(shared->awaited) == index) SetEvent(shared->progress.get());
        if (done) CloseHandle(done);
        steps.End();
    }
    return 0;
}

}  // namespace vesperlin::sysinfo::win32

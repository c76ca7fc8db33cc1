#include "sysinfo/win32/probe_pool.h"

#include <algorithm>

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kFileNameInformation = 9;
constexpr ULONG kProbeReplyLength = 4096;
constexpr SIZE_T kProbeStackReserve = 64 * 1024;
constexpr DWORD kTerminationWaitMs = 5000;
// How often the caller looks for a worker stuck on one handle while it waits.
constexpr DWORD kWatchIntervalMs = 10;

constexpr LONG kAwaitAhead = 32;

constexpr LONG kPending = 0;
constexpr LONG kFinished = 1;

// A read that sees what another thread stored with an interlocked write.
LONG Fetch(LONG volatile& value) {
    return InterlockedExchangeAdd(&value, 0);
}

}  // namespace

// Everything the workers touch. Allocated, sized and filled before the first worker starts and
// never resized while one lives; deliberately leaked if a worker cannot be confirmed ended.
struct ProbePool::Shared {
    std::vector<HANDLE> handles;
    std::vector<LONG> statuses;
    std::vector<LONG> states;  // kPending until the worker's call returned
    LONG count = 0;
    volatile LONG next = 0;      // the next handle to take
    volatile LONG stop = 0;      // take no more handles
    volatile LONG awaited = -1;  // the handle the caller waits for
    HANDLE progress = nullptr;   // set when the awaited handle is done
    std::vector<Slot> slots;
};

struct ProbePool::Slot {
    Shared* shared = nullptr;
    volatile LONG current = -1;  // the handle being probed, -1 between handles
    HANDLE thread = nullptr;
    // Caller only: which handle it last saw this worker on, and since when.
    LONG watchedItem = -1;
    ULONGLONG watchedSince = 0;
};

namespace {

// Takes handles until none is left. May be terminated at any instruction while it probes: it
// allocates nothing, takes no lock and calls nothing but the probe and SetEvent.
DWORD WINAPI PooledProbeWorker(LPVOID parameter) {
    auto* slot = static_cast<ProbePool::Slot*>(parameter);
    ProbePool::Shared* shared = slot->shared;
    IO_STATUS_BLOCK statusBlock;
    alignas(8) unsigned char reply[kProbeReplyLength];
    for (;;) {
        if (shared->stop) break;
        const LONG index = InterlockedIncrement(&shared->next) - 1;
        if (index >= shared->count) break;
        InterlockedExchange(&slot->current, index);
        shared->statuses[index] = NtApi.NtQueryInformationFile(
            shared->handles[index], &statusBlock, reply, kProbeReplyLength, kFileNameInformation);
        InterlockedExchange(&shared->states[index], kFinished);
        InterlockedExchange(&slot->current, -1);
        if (shared->awaited == index) SetEvent(shared->progress);
    }
    return 0;
}

}  // namespace

ProbePool::ProbePool(std::vector<HANDLE> handles, std::size_t workers)
    : shared(std::make_unique<Shared>()),
      outcomes(handles.size(), ProbeOutcome::NotRun),
      decided(handles.size(), false) {
    shared->count = static_cast<LONG>(handles.size());
    // No more workers than handles: a worker that would find nothing to take is not started.
    shared->slots.resize(std::max<std::size_t>(1, std::min(workers, handles.size())));
    shared->statuses.assign(handles.size(), 0);
    shared->states.assign(handles.size(), kPending);
    shared->handles = std::move(handles);
    for (Slot& slot : shared->slots) slot.shared = shared.get();
    shared->progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

bool ProbePool::StartWorker(Slot& slot) {
    slot.current = -1;
    slot.watchedItem = -1;
    slot.thread = CreateThread(nullptr, kProbeStackReserve, PooledProbeWorker, &slot,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!slot.thread) return false;
    ++handlePassCounters.threadsCreated;
    return true;
}

bool ProbePool::AnyWorkerAlive() {
    for (Slot& slot : shared->slots)
        if (slot.thread) return true;
    return false;
}

void ProbePool::GiveUpOnUnclaimed() {
    // Nothing can probe any more: the handles no worker took are left unprobed, as when a
    // probe thread cannot be started at all.
    InterlockedExchange(&shared->stop, 1);
    const LONG taken = Fetch(shared->next);
    for (LONG i = taken < 0 ? 0 : taken; i < shared->count; ++i) {
        if (decided[i]) continue;
        outcomes[i] = ProbeOutcome::NotRun;
        decided[i] = true;
    }
    InterlockedExchange(&shared->next, shared->count);
}

void ProbePool::Watch() {
    const ULONGLONG now = GetTickCount64();
    lastWatch = now;
    for (Slot& slot : shared->slots) {
        if (slot.thread && WaitForSingleObject(slot.thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(slot.thread);  // ended by itself: nothing left to take
            slot.thread = nullptr;
        }
        if (!slot.thread) {
            // A worker that was replaced is started again only while handles are left.
            if (!shared->stop && Fetch(shared->next) < shared->count && !StartWorker(slot) &&
                !AnyWorkerAlive())
                GiveUpOnUnclaimed();
            continue;
        }
        const LONG current = Fetch(slot.current);
        if (current < 0 || current != slot.watchedItem) {
            slot.watchedItem = current;
            slot.watchedSince = now;
            continue;
        }
        if (now - slot.watchedSince < ProbeTimeLimitMs) continue;
        if (Fetch(shared->states[current]) == kFinished) continue;  // done, just not yet moved on
        ++handlePassCounters.probeTimeouts;
        TerminateThread(slot.thread, 0);
        // Termination is asynchronous: the shared record and the handle stay untouched
        // until the thread object is signalled.
        if (WaitForSingleObject(slot.thread, kTerminationWaitMs) != WAIT_OBJECT_0) {
            shared.release();  // deliberately leaked: that worker may still write into it
            for (std::size_t i = 0; i < outcomes.size(); ++i)
                if (!decided[i]) outcomes[i] = ProbeOutcome::NotRun, decided[i] = true;
            return;
        }
        CloseHandle(slot.thread);
        slot.thread = nullptr;
        outcomes[current] = ProbeOutcome::TimedOut;
        decided[current] = true;
        if (!shared->stop && Fetch(shared->next) < shared->count && !StartWorker(slot) &&
            !AnyWorkerAlive())
            GiveUpOnUnclaimed();
    }
}

bool ProbePool::Poll(std::size_t index, ProbeOutcome& outcome) {
    if (index >= outcomes.size() || !ntApiBound || !shared || !shared->progress) {
        outcome =
            index < outcomes.size() && decided[index] ? outcomes[index] : ProbeOutcome::NotRun;
        return true;
    }
    if (!decided[index] && Fetch(shared->states[index]) == kFinished) {
        outcomes[index] = ProbeOutcome::Finished;
        decided[index] = true;
    }
    // Keep an eye on the workers even while the answers come faster than we ask.
    if (GetTickCount64() - lastWatch >= kWatchIntervalMs) Watch();
    if (!decided[index]) return false;
    outcome = outcomes[index];
    return true;
}

ProbeOutcome ProbePool::Await(std::size_t index) {
    const LONG item = static_cast<LONG>(index);
    for (;;) {
        ProbeOutcome outcome;
        if (Poll(index, outcome)) return outcome;
        Watch();
        if (!shared) return outcomes[index];
        if (decided[index]) continue;
        // Being woken costs more than a probe; when the workers are behind, sleep until they
        // are a stretch ahead instead of waking for every handle.
        LONG target = std::min<LONG>(item + kAwaitAhead, shared->count - 1);
        if (Fetch(shared->states[target]) == kFinished) target = item;
        InterlockedExchange(&shared->awaited, target);
        if (Fetch(shared->states[index]) != kFinished && Fetch(shared->states[target]) != kFinished)
            WaitForSingleObject(shared->progress, kWatchIntervalMs);
        InterlockedExchange(&shared->awaited, -1);
    }
}

ProbePool::~ProbePool() {
    if (!shared) return;  // a worker never ended; everything it might touch stays
    InterlockedExchange(&shared->stop, 1);
    // A worker between handles ends at once; one in a probe gets the rest of its time.
    const ULONGLONG deadline = GetTickCount64() + ProbeTimeLimitMs;
    bool leak = false;
    for (Slot& slot : shared->slots) {
        if (!slot.thread) continue;
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(slot.thread, wait) != WAIT_OBJECT_0) {
            ++handlePassCounters.probeTimeouts;
            TerminateThread(slot.thread, 0);
            if (WaitForSingleObject(slot.thread, kTerminationWaitMs) != WAIT_OBJECT_0) leak = true;
        }
        CloseHandle(slot.thread);
        slot.thread = nullptr;
    }
    if (leak) {
        shared.release();  // deliberately leaked: a worker may still write into it
        return;
    }
    CloseHandle(shared->progress);
}

}  // namespace vesperlin::win32

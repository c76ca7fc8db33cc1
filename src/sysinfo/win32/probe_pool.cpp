#include "sysinfo/win32/probe_pool.h"

#include <algorithm>
#include <utility>

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/probe_records.h"
#include "base/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::sysinfo::win32 {

using namespace probe;

ProbeThreadCalls probeThreadCalls;

namespace {

// A worker's object name reply. A name that needs more is asked again by a pool of one whose
// reply holds the longest counted string there is.
constexpr ULONG kNameReplyLength = 8192;
constexpr ULONG kLargestNameReply = sizeof(UNICODE_STRING) + 0x10000;
// Room for the names of a naming pool, in UTF-16 units per item (names are rarely longer;
// those that do not fit are asked again, as names too long for a reply are).
constexpr LONG kNameUnitsPerItem = 128;
constexpr LONG kLeastNameUnits = 64 * 1024;
constexpr LONG kMostNameUnits = 64 * 1024 * 1024;
constexpr SIZE_T kProbeStackReserve = 64 * 1024;

// How often the caller looks at the workers while it waits.
constexpr LONGLONG kWatchIntervalMs = 10;
// A worker seen between jobs this long is asked whether it has ended (each asking costs a
// round trip to the platform, so a worker that is merely passing between jobs is not asked).
constexpr LONGLONG kIdleCheckMs = 10;
// A worker marked to stop ends itself at its next step. One still inside the same platform
// query this long after the mark is blocked in it and is terminated: a call that has run this
// long waits, and is not in the platform's own code, which under Wine holds locks of the
// process in places (the handle cache around every server request of NtClose and
// NtDuplicateObject, the allocator) that a thread terminated there leaves held for good.
// Waiting lets a slow query that does return end its thread cleanly: under Wine a thread
// terminated from outside keeps its stack for good. Once the pool stops, no row waits any
// more but the caller does, and a query that has run this long in all is ended at once.
constexpr LONGLONG kBlockedForEndMs = 100;
// The item of a worker marked to end is decided this long after the mark even when the
// worker's end cannot be confirmed yet, so that no row waits for the confirmation.
constexpr LONGLONG kDecideWithoutEndMs = 10;
// A worker that has not ended this long after it was marked to end, or after the pool stopped,
// is given up: everything it might still touch stays allocated for good. Once the pool stops,
// a marked one is given up sooner: its item is long decided, and waiting longer for a thread
// the platform cannot end rarely helps.
constexpr LONGLONG kEndWaitMs = 5000;
constexpr LONGLONG kEndWaitWhenStoppedMs = 500;
// A worker that has begun no job this long after its start is not counted any more, and
// another one is started in its place; after this many, no more are started.
constexpr LONGLONG kStartWaitMs = 1000;
constexpr int kMostFailedStarts = 3;
// Being woken costs more than a probe: when the workers are behind, the caller sleeps until
// they are this far ahead of it.
constexpr LONG kAwaitAhead = 32;

}  // namespace

// The caller's view of one slot.
struct ProbePool::Worker {
    enum class Phase { Empty, Running, Dying, Lost };
    Phase phase = Phase::Empty;
    base::UniqueThread thread;  // the thread itself never uses its handle
    LONG job = -1;              // Dying, Lost: the job it was marked to end on
    LONGLONG since = 0;         // Running: when it was started; Dying: when it was marked
    LONGLONG idleSeen = 0;      // Running: when it was first seen between jobs (0: at work)
    bool counted = true;        // Running: one of the pool's workers (false once slow to start)
    bool terminated = false;    // Dying: TerminateThread has been called
};

bool SingleProbeItem(HANDLE handle, DWORD owner, ProbeItem& item,
                     std::shared_ptr<const void>& keepAlive) {
    item = {nullptr, handle, false};
    if (owner == GetCurrentProcessId()) return true;  // ours: used in place
    auto process = std::make_shared<base::UniqueKernelHandle>(OpenProcessForDuplicate(owner));
    if (!*process) return false;
    item.owner = process->get();
    keepAlive = std::move(process);
    return true;
}

ProbePool::ProbePool(std::vector<ProbeItem> requests, ProbePoolOptions givenOptions)
    : shared(std::make_unique<Shared>()),
      outcomes(requests.size(), ProbeOutcome::NotRun),
      decided(requests.size(), false),
      options(std::move(givenOptions)) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMs = std::max<LONGLONG>(1, frequency.QuadPart / 1000);
    Shared& s = *shared;
    s.count = static_cast<LONG>(requests.size());
    s.items.resize(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        s.items[i].owner = requests[i].owner;
        s.items[i].handle = requests[i].handle;
        if (requests[i].owned) s.items[i].copy = requests[i].handle;
    }
    s.naming = options.naming;
    s.largeReplies = options.largeReplies;
    // Held by the shared records alone, so that they go (or stay) with them.
    s.filter = std::move(options.filter);
    s.keepAlive = std::move(options.keepAlive);
    // No more workers than items; three times as many slots, so that workers that were told to
    // stop and have not ended yet do not keep replacements from starting.
    options.workers = std::max<std::size_t>(1, std::min<std::size_t>(options.workers, s.count));
    s.slotCount = 3 * options.workers;
    s.slots.reset(new Slot[s.slotCount]);
    workers.resize(s.slotCount);
    const ULONG replyLength = options.largeReplies ? kLargestNameReply : kNameReplyLength;
    const std::size_t replyWords = (replyLength + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR);
    if (s.naming) {
        s.replies.reset(new ULONG_PTR[replyWords * s.slotCount]);
        s.namesCapacity = static_cast<LONG>(std::clamp<LONGLONG>(
            static_cast<LONGLONG>(s.count) * kNameUnitsPerItem, kLeastNameUnits, kMostNameUnits));
        s.names.reset(new wchar_t[static_cast<std::size_t>(s.namesCapacity)]);
    }
    for (std::size_t i = 0; i < s.slotCount; ++i) {
        s.slots[i].shared = &s;
        if (s.naming) {
            s.slots[i].reply = reinterpret_cast<unsigned char*>(s.replies.get() + i * replyWords);
            s.slots[i].replyLength = replyLength;
        }
    }
    // Every item leaves one copy at most to be closed; the rest is room for a close queued again
    // because its worker ended before it took the copy.
    s.closesCapacity = s.count + static_cast<LONG>(s.slotCount) + 16;
    s.closes.reset(new PVOID[static_cast<std::size_t>(s.closesCapacity)]());
    s.progress.reset(probeThreadCalls.createEvent(nullptr, FALSE, FALSE, nullptr));
    if (!ntApiBound) GiveUpOnUnclaimed();
}

void ProbePool::Decide(std::size_t index, ProbeOutcome outcome) {
    outcomes[index] = outcome;
    decided[index] = true;
}

void ProbePool::QueueClose(HANDLE copy) {
    Shared& s = *shared;
    // No room (which the capacity rules out): left open rather than closed on this thread.
    if (s.closesQueued >= s.closesCapacity) return;
    s.closes[s.closesQueued] = copy;
    InterlockedIncrement(&s.closesQueued);
}

void ProbePool::GiveUpOnUnclaimed() {
    // No worker can take the items that are left: they are not run (and not named here either).
    InterlockedExchange(&shared->stop, 1);
    const LONG taken = std::min(shared->count, InterlockedExchange(&shared->next, shared->count));
    for (LONG i = std::max<LONG>(0, taken); i < shared->count; ++i)
        if (!decided[i]) Decide(i, ProbeOutcome::NotRun);
}

bool ProbePool::StartWorkers(bool stopping) {
    Shared& s = *shared;
    const bool itemsLeft = !Fetch(s.stop) && Fetch(s.next) < s.count;
    const bool closesLeft = Fetch(s.closesTaken) < s.closesQueued;
    if (!itemsLeft && !closesLeft) return true;
    std::size_t counted = 0, running = 0, dying = 0;
    for (const Worker& worker : workers) {
        if (worker.phase == Worker::Phase::Running) {
            ++running;
            counted += worker.counted;
        }
        dying += worker.phase == Worker::Phase::Dying;
    }
    // Closes are quick: one worker for them is enough once the items are done.
    const std::size_t wanted = itemsLeft ? options.workers : 1;
    while (counted < wanted) {
        if (failedStarts >= kMostFailedStarts) break;
        auto empty = std::find_if(workers.begin(), workers.end(), [](const Worker& worker) {
            return worker.phase == Worker::Phase::Empty;
        });
        if (empty == workers.end()) {
            if (running > 0 || dying > 0) return true;  // a slot frees up once one has ended
            break;
        }
        const std::size_t at = static_cast<std::size_t>(empty - workers.begin());
        Slot& slot = s.slots[at];
        slot.state = kIdle;
        slot.jobsBegun = 0;
        base::UniqueThread thread(
            probeThreadCalls.createThread(nullptr, kProbeStackReserve, FileNameProbeWorker, &slot,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!thread) break;
        ++handlePassCounters.threadsCreated;
        *empty = Worker{};
        empty->phase = Worker::Phase::Running;
        empty->thread = std::move(thread);
        empty->since = Ticks();
        ++counted;
        ++running;
    }
    if (counted >= wanted || counted > 0) return true;
    // Nothing can take the items: they are given up rather than left waiting forever.
    if (itemsLeft && !stopping) GiveUpOnUnclaimed();
    return false;
}

void ProbePool::MarkToEnd(std::size_t at, LONG64 state, LONGLONG now) {
    Slot& slot = shared->slots[at];
    // A worker that has just finished this step sees the mark and ends itself; one that has
    // moved on is not marked at all.
    if (InterlockedCompareExchange64(&slot.state, state | kEnding, state) != state) return;
    const LONG job = JobOf(state);
    if (job < shared->count) ++handlePassCounters.probeTimeouts;
    Worker& worker = workers[at];
    worker.phase = Worker::Phase::Dying;
    worker.job = job;
    worker.since = now;
    worker.terminated = false;
}

void ProbePool::TerminateIfBlocked(std::size_t at, LONGLONG now, bool stopping) {
    Worker& worker = workers[at];
    Slot& slot = shared->slots[at];
    // After the mark it can only still be in the query it was in, or ending itself.
    const LONG64 state = Fetch(slot.state);
    if (state < 0 || !(state & kInQuery)) return;
    const LONGLONG since = stopping ? Fetch(slot.queryStartedAt) : worker.since;
    if (now - since < kBlockedForEndMs * ticksPerMs) return;
    TerminateThread(worker.thread.get(), 0);
    ++handlePassCounters.threadsTerminated;
    worker.terminated = true;
}

void ProbePool::AfterEnd(std::size_t at) {
    Shared& s = *shared;
    const LONG job = workers[at].job;
    if (job < s.count) {
        // A copy the worker had no time to close is closed by another worker: closing it may
        // hang as its queries did.
        FileNameProbe& item = s.items[job];
        if (Fetch(item.state) != kFinished && item.copy) {
            QueueClose(item.copy);
            item.copy = nullptr;
        }
        return;
    }
    // Ended before it took the copy out of the queue: the copy still has to be closed.
    const LONG place = job - s.count;
    if (HANDLE copy = InterlockedExchangePointer(&s.closes[place], nullptr)) QueueClose(copy);
}

void ProbePool::CheckEnded(std::size_t at, LONGLONG now, bool stopping) {
    Shared& s = *shared;
    Slot& slot = s.slots[at];
    Worker& worker = workers[at];
    if (worker.phase == Worker::Phase::Running) {
        if (Fetch(slot.state) != kIdle) {
            worker.idleSeen = 0;
            return;
        }
        // Starting, between two jobs or ending: never terminated, only asked whether it ended.
        if (worker.idleSeen == 0) worker.idleSeen = now;
        if (!stopping && now - worker.idleSeen < kIdleCheckMs * ticksPerMs) return;
        if (probeThreadCalls.waitForThread(worker.thread.get(), 0) == WAIT_OBJECT_0) {
            const bool beganNothing = Fetch(slot.jobsBegun) == 0;
            worker = Worker{};  // closes its thread handle
            // Ended without taking anything while items were waiting: it died starting.
            if (beganNothing && !Fetch(s.stop) && Fetch(s.next) < s.count) ++failedStarts;
            return;
        }
        if (worker.counted && Fetch(slot.jobsBegun) == 0 &&
            now - worker.since >= kStartWaitMs * ticksPerMs) {
            worker.counted = false;  // slow to start: another one takes its place
            ++failedStarts;
        }
        if (stopping && now - stoppedAt >= kEndWaitMs * ticksPerMs) {
            worker.thread.reset();
            worker.phase = Worker::Phase::Lost;
            worker.job = -1;
        }
        return;
    }
    if (worker.phase != Worker::Phase::Dying) return;
    if (!worker.terminated) TerminateIfBlocked(at, now, stopping);
    const bool ended = probeThreadCalls.waitForThread(worker.thread.get(), 0) == WAIT_OBJECT_0;
    if (worker.job < s.count && !decided[worker.job]) {
        // What it really did: an item it finished before it stopped keeps its answer.
        if (Fetch(s.items[worker.job].state) == kFinished)
            Decide(worker.job, ProbeOutcome::Finished);
        else if (ended || now - worker.since >= kDecideWithoutEndMs * ticksPerMs)
            Decide(worker.job, ProbeOutcome::TimedOut);
    }
    if (ended) {
        AfterEnd(at);
        worker = Worker{};  // closes its thread handle
        return;
    }
    if (now - worker.since >= (stopping ? kEndWaitWhenStoppedMs : kEndWaitMs) * ticksPerMs) {
        worker.thread.reset();
        worker.phase = Worker::Phase::Lost;
    }
}

void ProbePool::EndOverdue(LONGLONG now) {
    // Every worker that has had its time at once, so that hung ones end together.
    for (std::size_t at = 0; at < workers.size(); ++at) {
        if (workers[at].phase != Worker::Phase::Running) continue;
        Slot& slot = shared->slots[at];
        const LONG64 state = Fetch(slot.state);
        if (state < 0) continue;  // between jobs: never ended
        // Read after the state: a start time of a later job only makes it look younger.
        if (now - Fetch(slot.startedAt) >= static_cast<LONGLONG>(options.limitMs) * ticksPerMs)
            MarkToEnd(at, state, now);
    }
}

void ProbePool::Watch(LONGLONG now) {
    lastWatch = now;
    EndOverdue(now);
    for (std::size_t at = 0; at < workers.size(); ++at) CheckEnded(at, now, false);
    StartWorkers(false);
}

bool ProbePool::Poll(std::size_t index, ProbeOutcome& outcome) {
    if (index >= decided.size()) {
        outcome = ProbeOutcome::NotRun;
        return true;
    }
    if (!decided[index] && Fetch(shared->items[index].state) == kFinished)
        Decide(index, ProbeOutcome::Finished);
    // Keep an eye on the workers even while the answers come faster than they are asked for.
    const LONGLONG now = Ticks();
    if (now - lastWatch >= kWatchIntervalMs * ticksPerMs) Watch(now);
    if (!decided[index]) return false;
    outcome = outcomes[index];
    return true;
}

ProbeOutcome ProbePool::Await(std::size_t index) {
    ProbeOutcome outcome = ProbeOutcome::NotRun;
    if (Poll(index, outcome)) return outcome;
    Shared& s = *shared;
    const LONG item = static_cast<LONG>(index);
    const LONGLONG asked = Ticks();
    do {
        LONG target = std::min<LONG>(item + kAwaitAhead, s.count - 1);
        if (Fetch(s.items[target].state) == kFinished) target = item;
        InterlockedExchange(&s.awaited, target);
        if (Fetch(s.items[item].state) != kFinished && Fetch(s.items[target].state) != kFinished) {
            // No longer than until the next look at the workers.
            const LONGLONG left = kWatchIntervalMs * ticksPerMs - (Ticks() - lastWatch);
            const DWORD wait = static_cast<DWORD>(
                std::clamp<LONGLONG>(left / ticksPerMs + 1, 1, kWatchIntervalMs));
            if (s.progress)
                WaitForSingleObject(s.progress.get(), wait);
            else
                Sleep(wait);
        }
        InterlockedExchange(&s.awaited, -1);
    } while (!Poll(index, outcome));
    // How long this item kept the caller waiting once its probe had begun.
    const LONGLONG began = InterlockedCompareExchange64(&s.items[item].began, 0, 0);
    if (began != 0) {
        const LONGLONG waited = Ticks() - std::max(asked, began);
        const auto micros =
            static_cast<std::size_t>(std::max<LONGLONG>(0, waited) * 1000 / ticksPerMs);
        handlePassCounters.longestWaitUs = std::max(handlePassCounters.longestWaitUs, micros);
    }
    return outcome;
}

bool ProbePool::TakeName(std::size_t index, std::string& name) {
    if (index >= decided.size() || !shared->naming) return false;
    switch (Await(index)) {
        case ProbeOutcome::TimedOut:
            // Its name query would hang as its probe did.
            name.clear();
            return true;
        case ProbeOutcome::NotRun:
            return false;
        case ProbeOutcome::Finished:
            break;
    }
    FileNameProbe& item = shared->items[index];
    if (item.name == kNameAgain) return RedoName(index, name);
    if (item.name != kNameRead) return false;
    UNICODE_STRING text;
    text.Length = text.MaximumLength = static_cast<USHORT>(item.nameUnits * sizeof(wchar_t));
    text.Buffer = shared->names.get() + item.nameOffset;
    CountedWideToNarrow(&text, name);
    return true;
}

bool ProbePool::RedoName(std::size_t index, std::string& name) {
    FileNameProbe& item = shared->items[index];
    ProbeItem again{item.owner, item.handle, false};
    // The copy kept open for it is handed over, and closed by the pool that names it.
    if (item.copy) again = {nullptr, std::exchange(item.copy, nullptr), true};
    ProbePoolOptions larger;
    larger.naming = true;
    larger.keepAlive = shared->keepAlive;
    larger.workers = 1;
    larger.limitMs = options.limitMs;
    larger.largeReplies = true;
    ProbePool pool({again}, std::move(larger));
    return pool.TakeName(0, name);
}

void ProbePool::Finish() {
    Shared& s = *shared;
    InterlockedExchange(&s.stop, 1);
    const LONG taken = std::min(s.count, InterlockedExchange(&s.next, s.count));
    // Items no worker took are ours now; copies handed over with them are closed by workers.
    for (LONG i = std::max<LONG>(0, taken); i < s.count; ++i)
        if (s.items[i].copy) QueueClose(std::exchange(s.items[i].copy, nullptr));
    stoppedAt = Ticks();
    bool leftoversQueued = false;
    for (;;) {
        const LONGLONG now = Ticks();
        // One inside a probe gets the rest of its time; one that is starting or ending is
        // waited for.
        EndOverdue(now);
        for (std::size_t at = 0; at < workers.size(); ++at) CheckEnded(at, now, true);
        const bool busy = std::any_of(workers.begin(), workers.end(), [](const Worker& worker) {
            return worker.phase == Worker::Phase::Running || worker.phase == Worker::Phase::Dying;
        });
        if (!busy && !leftoversQueued) {
            // Every worker that took an item has ended: what they left open goes to a closer.
            // A worker that was given up may still use any of it, so then it all stays.
            if (!AnyLost())
                for (LONG i = 0; i < std::max<LONG>(0, taken); ++i)
                    if (s.items[i].copy) QueueClose(std::exchange(s.items[i].copy, nullptr));
            leftoversQueued = true;
        }
        // Copies that no worker can close are left open rather than closed on this thread.
        const bool started = StartWorkers(true);
        if (!busy && (!started || (leftoversQueued && Fetch(s.closesTaken) >= s.closesQueued)))
            break;
        Sleep(1);
    }
}

bool ProbePool::AnyLost() const {
    return std::any_of(workers.begin(), workers.end(),
                       [](const Worker& worker) { return worker.phase == Worker::Phase::Lost; });
}

ProbePool::~ProbePool() {
    Finish();
    if (AnyLost()) {
        // Deliberately leaked, with the filter and whatever the items belong to: a worker that
        // was never confirmed ended may still use any of it.
        (void)shared.release();
        return;
    }
    for (const FileNameProbe& item : shared->items)
        handlePassCounters.handlesCopied += static_cast<std::size_t>(item.copied);
    // Every worker is confirmed ended: the shared records go now, the progress event with them.
}

}  // namespace vesperlin::sysinfo::win32

#include "sysinfo/win32/probe_pool.h"

#include <algorithm>

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/object_types.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kFileNameInformation = 9;
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kProbeReplyLength = 4096;
// A worker's object name reply; a longer name is left to the caller, whose buffer grows.
constexpr ULONG kNameReplyLength = 8192;
// Room for the names of a naming pool, in UTF-16 units per item (names are rarely longer;
// those that do not fit are left to the caller too).
constexpr LONG kNameUnitsPerItem = 128;
constexpr LONG kLeastNameUnits = 64 * 1024;
constexpr SIZE_T kProbeStackReserve = 64 * 1024;
constexpr DWORD kTerminationWaitMs = 5000;
// How often the caller looks for a worker stuck on one handle while it waits.
constexpr DWORD kWatchIntervalMs = 10;

constexpr LONG kAwaitAhead = 32;

constexpr LONG kPending = 0;
constexpr LONG kFinished = 1;

// What a worker of a naming pool learned of an item's name.
constexpr LONG kNameUnread = 0;     // not asked (the probe-only pool, or not reached)
constexpr LONG kNameRead = 1;       // in the shared name store
constexpr LONG kNameFailed = 2;     // the query failed: the item has no name
constexpr LONG kNameForCaller = 3;  // too long for the worker: the copy stays open for the caller
constexpr LONG kCopyFailed = 4;
constexpr LONG kNameSkipped = 5;  // the filter says it cannot be a looked-for file

// A read that sees what another thread stored with an interlocked write.
LONG Fetch(const LONG volatile& value) {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&value), 0, 0);
}

}  // namespace

// One handle as the workers and the caller share it. A worker writes the fields after
// `state` only before it sets `state` to kFinished; the caller reads them only after that, or
// after the worker has been confirmed ended.
struct ProbePool::Item {
    HANDLE owner = nullptr;
    HANDLE handle = nullptr;
    HANDLE copy = nullptr;  // our copy while it is open
    LONG state = kPending;
    LONG status = 0;
    LONG name = kNameUnread;
    LONG nameOffset = 0;
    LONG nameUnits = 0;
    LONG copied = 0;
};

// Everything the workers touch. Allocated, sized and filled before the first worker starts and
// never resized while one lives; deliberately leaked if a worker cannot be confirmed ended.
struct ProbePool::Shared {
    std::vector<Item> items;
    LONG count = 0;
    bool naming = false;
    const NameTailFilter* filter = nullptr;
    LONG next = 0;              // the next handle to take
    LONG stop = 0;              // take no more handles
    LONG awaited = -1;          // the handle the caller waits for
    HANDLE progress = nullptr;  // set when the awaited handle is done
    std::vector<Slot> slots;
    std::unique_ptr<wchar_t[]> names;  // the names read, one after another
    LONG namesCapacity = 0;
    LONG namesUsed = 0;
};

struct ProbePool::Slot {
    Shared* shared = nullptr;
    LONG current = -1;  // the handle being worked on, -1 between handles
    HANDLE thread = nullptr;
    // Caller only: which handle it last saw this worker on, and since when.
    LONG watchedItem = -1;
    ULONGLONG watchedSince = 0;
    alignas(8) unsigned char reply[kNameReplyLength];
};

namespace {

// Whether the path a finished probe read may belong to a looked-for file. A probe that failed,
// or whose path did not fit, tells nothing: its handle is named as any other.
bool ProbeAdmits(const NameTailFilter& filter, NTSTATUS status, const unsigned char* reply) {
    if (status != 0) return true;
    const auto* info = reinterpret_cast<const FILE_NAME_INFORMATION*>(reply);
    if (info->FileNameLength > kProbeReplyLength - sizeof(ULONG)) return true;
    return filter.Admits(reinterpret_cast<const char16_t*>(info->FileName),
                         info->FileNameLength / sizeof(WCHAR));
}

// The object name of `local` into the shared store. Runs on a worker: no allocation, no lock.
void ReadNameOnWorker(ProbePool::Shared& shared, ProbePool::Slot& slot, ProbePool::Item& item,
                      HANDLE local) {
    ULONG needed = 0;
    const NTSTATUS status =
        NtApi.NtQueryObject(local, kObjectNameInformation, slot.reply, kNameReplyLength, &needed);
    if (status != 0) {
        item.name = ObjectReplyTooSmall(status) ? kNameForCaller : kNameFailed;
        return;
    }
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(slot.reply);
    const LONG units = text->Length / sizeof(wchar_t);
    if (units == 0) {
        item.nameUnits = 0;
        item.name = kNameRead;
        return;
    }
    // The text must lie inside the reply, as the caller's own query demands.
    const auto* begin = reinterpret_cast<const unsigned char*>(text->Buffer);
    const unsigned char* end = slot.reply + kNameReplyLength;
    if (begin < slot.reply || begin > end || static_cast<ULONG>(end - begin) < text->Length) {
        item.name = kNameFailed;
        return;
    }
    LONG offset;
    do {
        offset = Fetch(shared.namesUsed);
        if (offset > shared.namesCapacity - units) {
            item.name = kNameForCaller;
            return;
        }
    } while (InterlockedCompareExchange(&shared.namesUsed, offset + units, offset) != offset);
    const wchar_t* from = text->Buffer;
    wchar_t* to = shared.names.get() + offset;
    for (LONG i = 0; i < units; ++i) to[i] = from[i];
    item.nameOffset = offset;
    item.nameUnits = units;
    item.name = kNameRead;
}

// Takes handles until none is left. May be terminated at any instruction while it works on a
// handle: it allocates nothing, takes no lock and calls only the platform's handle and query
// functions and SetEvent. A copy is written by the platform straight into the item, so that
// the caller finds and closes it even when the worker is ended right after the copy.
DWORD WINAPI PooledProbeWorker(LPVOID parameter) {
    auto* slot = static_cast<ProbePool::Slot*>(parameter);
    ProbePool::Shared* shared = slot->shared;
    IO_STATUS_BLOCK statusBlock;
    alignas(8) unsigned char reply[kProbeReplyLength];
    for (;;) {
        if (Fetch(shared->stop)) break;
        const LONG index = InterlockedIncrement(&shared->next) - 1;
        if (index >= shared->count) break;
        ProbePool::Item& item = shared->items[index];
        InterlockedExchange(&slot->current, index);
        HANDLE local = item.handle;
        if (item.owner) {
            if (DuplicateHandle(item.owner, item.handle, GetCurrentProcess(), &item.copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS)) {
                item.copied = 1;
                local = item.copy;
            } else {
                item.copy = nullptr;
                item.name = kCopyFailed;
                local = nullptr;
            }
        }
        if (local) {
            item.status = NtApi.NtQueryInformationFile(local, &statusBlock, reply,
                                                       kProbeReplyLength, kFileNameInformation);
            if (shared->naming) {
                if (shared->filter && !ProbeAdmits(*shared->filter, item.status, reply))
                    item.name = kNameSkipped;
                else
                    ReadNameOnWorker(*shared, *slot, item, local);
            }
        }
        // Done with the copy unless the caller still has to name it. It leaves the item before
        // it is closed: a worker ended in between leaks it rather than have it closed twice.
        HANDLE done = nullptr;
        if (item.owner && item.name != kNameForCaller) {
            done = item.copy;
            item.copy = nullptr;
        }
        InterlockedExchange(&slot->current, -1);
        InterlockedExchange(&item.state, kFinished);
        if (Fetch(shared->awaited) == index) SetEvent(shared->progress);
        if (done) CloseHandle(done);
    }
    return 0;
}

}  // namespace

ProbePool::ProbePool(std::vector<HANDLE> handles, std::size_t workers)
    : ProbePool(
          [&] {
              std::vector<Item> items(handles.size());
              for (std::size_t i = 0; i < handles.size(); ++i) items[i].handle = handles[i];
              return items;
          }(),
          false, nullptr, workers) {}

ProbePool::ProbePool(std::vector<ProbeItem> requests, const NameTailFilter* filter,
                     std::size_t workers)
    : ProbePool(
          [&] {
              std::vector<Item> items(requests.size());
              for (std::size_t i = 0; i < requests.size(); ++i) {
                  items[i].owner = requests[i].owner;
                  items[i].handle = requests[i].handle;
              }
              return items;
          }(),
          true, filter, workers) {}

ProbePool::ProbePool(std::vector<Item> items, bool naming, const NameTailFilter* filter,
                     std::size_t workers)
    : shared(std::make_unique<Shared>()),
      outcomes(items.size(), ProbeOutcome::NotRun),
      decided(items.size(), false),
      requests(items.size()) {
    for (std::size_t i = 0; i < items.size(); ++i) requests[i] = {items[i].owner, items[i].handle};
    shared->count = static_cast<LONG>(items.size());
    shared->naming = naming;
    shared->filter = filter;
    // No more workers than handles: a worker that would find nothing to take is not started.
    shared->slots.resize(std::max<std::size_t>(1, std::min(workers, items.size())));
    shared->items = std::move(items);
    if (naming) {
        shared->namesCapacity = std::max(kLeastNameUnits, shared->count * kNameUnitsPerItem);
        shared->names.reset(new wchar_t[static_cast<std::size_t>(shared->namesCapacity)]);
    }
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

void ProbePool::GiveUpOnAll() {
    shared.release();  // deliberately leaked: that worker may still write into it
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (!decided[i]) outcomes[i] = ProbeOutcome::NotRun, decided[i] = true;
}

void ProbePool::Watch() {
    const ULONGLONG now = GetTickCount64();
    lastWatch = now;
    // A worker ends by itself only when no handle is left to take, so ended workers are not
    // looked for here (asking costs a round trip to the platform); the destructor reaps them.
    for (Slot& slot : shared->slots) {
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
        if (Fetch(shared->items[current].state) == kFinished) continue;  // not yet moved on
        ++handlePassCounters.probeTimeouts;
        TerminateThread(slot.thread, 0);
        // Termination is asynchronous: the shared record and the handle stay untouched
        // until the thread object is signalled.
        if (WaitForSingleObject(slot.thread, kTerminationWaitMs) != WAIT_OBJECT_0) {
            GiveUpOnAll();
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
    if (!decided[index] && Fetch(shared->items[index].state) == kFinished) {
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
        if (Poll(index, outcome)) return outcome;  // also watches the workers, now and then
        if (!shared) return outcomes[index];
        if (decided[index]) continue;
        // Being woken costs more than a probe; when the workers are behind, sleep until they
        // are a stretch ahead instead of waking for every handle.
        LONG target = std::min<LONG>(item + kAwaitAhead, shared->count - 1);
        if (Fetch(shared->items[target].state) == kFinished) target = item;
        InterlockedExchange(&shared->awaited, target);
        if (Fetch(shared->items[index].state) != kFinished &&
            Fetch(shared->items[target].state) != kFinished)
            WaitForSingleObject(shared->progress, kWatchIntervalMs);
        InterlockedExchange(&shared->awaited, -1);
    }
}

bool ProbePool::TakeName(std::size_t index, std::string& name) {
    if (index >= outcomes.size()) return false;
    const ProbeOutcome outcome = Await(index);
    if (outcome == ProbeOutcome::TimedOut) {
        // Its name query would block us as it blocked the probe.
        name.clear();
        return true;
    }
    const ProbeItem& request = requests[index];
    // A worker that could not be ended keeps the shared records, even those of items it had
    // finished: such items are named here as those that no worker had.
    if (outcome == ProbeOutcome::NotRun || !shared) {
        // No worker had it (or none can be trusted any more): named here, unprobed.
        if (!ntApiBound) return false;
        HANDLE local =
            request.owner ? DuplicateIntoSelf(request.owner, request.handle) : request.handle;
        if (!local) return false;
        const bool named = QueryLocalObjectName(local, name);
        if (request.owner) CloseHandle(local);
        return named;
    }
    Item& item = shared->items[index];
    switch (item.name) {
        case kNameRead: {
            UNICODE_STRING text;
            text.Length = text.MaximumLength = static_cast<USHORT>(item.nameUnits * 2);
            text.Buffer = shared->names.get() + item.nameOffset;
            CountedWideToNarrow(&text, name);
            return true;
        }
        case kNameForCaller: {
            HANDLE local = request.owner ? item.copy : request.handle;
            const bool named = QueryLocalObjectName(local, name);
            if (request.owner) {
                item.copy = nullptr;
                CloseHandle(local);
            }
            return named;
        }
        default:
            return false;
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
    // Every worker has ended: the copies still open (hung, or never asked for) go now.
    for (Item& item : shared->items) {
        handlePassCounters.handlesCopied += static_cast<std::size_t>(item.copied);
        if (item.owner && item.copy) CloseHandle(item.copy);
    }
    CloseHandle(shared->progress);
}

}  // namespace vesperlin::win32

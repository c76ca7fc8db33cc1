#pragma once
// Inside the probe pool: the records that its workers and the caller share, and the worker
// itself (probe_worker.cpp). Nothing outside probe_pool.cpp and probe_worker.cpp uses them.

#include <windows.h>
#include <winternl.h>

#include <memory>
#include <vector>

#include "base/win32/unique_handle.h"
#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::sysinfo::win32::probe {

constexpr LONG kPending = 0;
constexpr LONG kFinished = 1;

// What a worker of a naming pool learned of an item's name.
constexpr LONG kNameUnread = 0;  // not asked (a probe-only pool)
constexpr LONG kNameRead = 1;    // in the shared name store
constexpr LONG kNameFailed = 2;  // the query failed: the item has no name
constexpr LONG kNameAgain = 3;   // too long for the reply or the store: the copy stays open
constexpr LONG kCopyFailed = 4;
constexpr LONG kNameSkipped = 5;  // the filter says it cannot be a looked-for file

// What a worker is doing, as it shares it with the caller in one 64-bit word: between jobs,
// or on a job (an item's index, or the number of items plus a close's place in the queue) in
// its n-th platform query or between two (bit 0 set while inside one). The caller marks a
// worker that has to stop by setting kEnding; the worker's next step then fails and it ends
// itself, taking nothing more.
constexpr LONG64 kIdle = -1;
constexpr LONG64 kLeaving = -2;
constexpr LONG64 kEnding = 1LL << 62;
constexpr LONG64 kInQuery = 1;
inline LONG64 OnJob(LONG job, LONG query) {
    return (static_cast<LONG64>(job) << 32) | (static_cast<LONG64>(query) << 1);
}
inline LONG JobOf(LONG64 state) {
    return static_cast<LONG>((state & ~kEnding) >> 32);
}

// Reads that see what another thread stored with an interlocked write.
inline LONG Fetch(const LONG volatile& value) {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&value), 0, 0);
}
inline LONG64 Fetch(const LONG64 volatile& value) {
    return InterlockedCompareExchange64(const_cast<LONG64 volatile*>(&value), 0, 0);
}

inline LONGLONG Ticks() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// One item as the workers and the caller share it (the record of the file-name probe). A
// worker writes the fields after `state` only before it sets `state` to kFinished; the caller
// reads them only after that, or once the worker is confirmed ended.
struct FileNameProbe {
    HANDLE owner = nullptr;
    HANDLE handle = nullptr;
    HANDLE copy = nullptr;  // our copy while it is open; the platform writes it straight here
    LONG state = kPending;
    LONG status = 0;
    LONG name = kNameUnread;
    LONG nameOffset = 0;
    LONG nameUnits = 0;
    LONG copied = 0;
    LONGLONG began = 0;  // performance counter, when a worker took it
};

}  // namespace vesperlin::sysinfo::win32::probe

namespace vesperlin::sysinfo::win32 {

// Everything the workers touch. Allocated, sized and filled before the first worker starts and
// never resized while one lives; deliberately leaked if a worker cannot be confirmed ended.
struct ProbePool::Shared {
    std::vector<probe::FileNameProbe> items;
    LONG count = 0;
    bool naming = false;
    bool largeReplies = false;
    std::shared_ptr<const NameTailFilter> filter;
    std::shared_ptr<const void> keepAlive;
    LONG next = 0;      // the next item to take
    LONG stop = 0;      // take no more items (closes are still taken)
    LONG awaited = -1;  // the item the caller waits for
    // Set when the awaited item is done; empty: the caller polls. Owned here, so that it goes
    // with the records, or stays open with them while a worker may still set it.
    base::UniqueEvent progress;
    std::unique_ptr<Slot[]> slots;
    std::size_t slotCount = 0;
    std::unique_ptr<ULONG_PTR[]> replies;  // every slot's object name reply
    std::unique_ptr<wchar_t[]> names;      // the names read, one after another
    LONG namesCapacity = 0;
    LONG namesUsed = 0;
    // Copies left for a worker to close: written by the caller only, taken by the workers.
    std::unique_ptr<PVOID[]> closes;
    LONG closesCapacity = 0;
    LONG closesQueued = 0;
    LONG closesTaken = 0;
};

// What one worker thread shares with the caller.
struct ProbePool::Slot {
    Shared* shared = nullptr;
    LONG64 state = probe::kIdle;
    LONG jobsBegun = 0;
    LONG64 startedAt = 0;       // performance counter, when the current job began
    LONG64 queryStartedAt = 0;  // and when its current (or last) query began
    unsigned char* reply = nullptr;
    ULONG replyLength = 0;
};

// The worker thread of a slot: closes what it is given, then takes items until none is left.
DWORD WINAPI FileNameProbeWorker(LPVOID slot);

}  // namespace vesperlin::sysinfo::win32

#pragma once
// The one place where handles of type "File" are probed and named. The platform's queries on
// some file objects never return (a synchronous pipe with a blocked reader, a stalled network
// file), so they are asked on worker threads that get a fixed time per handle: a worker takes
// the handles one by one in order, copies each into our process, asks its file name (the
// probe), then its object name, and closes the copy. A worker that has spent the time limit
// on one handle is ended and that handle is timed out. A few workers run side by side,
// so that hung handles cost about one time limit together, and a normal handle costs no
// thread of its own.
//
// Ending a thread from outside is the dangerous part; four rules make it safe:
// - a worker is told to stop only while it works on a known handle, never while it starts,
//   passes between handles or ends (the loader lock or the runtime's locks may be held then);
// - told to stop, it takes nothing more and ends itself at its next step; only one still
//   blocked in its query well after that is terminated, never one inside the platform's own
//   code (under Wine a thread ended there can leave a lock of the process held for good);
// - what it did is read from the shared records once its end is confirmed, not guessed before;
// - whatever a worker that cannot be confirmed ended may still touch is never freed.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/name_probe.h"

namespace vesperlin::sysinfo::win32 {

inline constexpr std::size_t ProbePoolSize = 4;

// One handle to probe: a handle of process `owner` (open with PROCESS_DUP_HANDLE), which the
// worker copies, or with a null owner one of our own process. An `owned` handle of ours is a
// copy handed over to the pool, which closes it; any other handle of ours is used in place.
struct ProbeItem {
    HANDLE owner = nullptr;
    HANDLE handle = nullptr;
    bool owned = false;
};

struct ProbePoolOptions {
    // Also ask each handle's object name once its probe has finished (TakeName).
    bool naming = false;
    // With a filter, an item whose probed path it does not admit is not named.
    std::shared_ptr<const NameTailFilter> filter;
    // What the items' handles belong to (owner processes, handed-over copies): released with
    // the pool, or kept for good when a worker that may still use them cannot be ended.
    std::shared_ptr<const void> keepAlive;
    std::size_t workers = ProbePoolSize;
    DWORD limitMs = ProbeTimeLimitMs;
    // Reply buffers for the longest name there can be, at a cost in memory per worker; without,
    // a name too long for a worker is asked again by a pool of one that has them.
    bool largeReplies = false;
};

// The thread calls of the pool. Tests replace entries (and put them back) to script threads
// that cannot be created or whose end cannot be confirmed, and an event that cannot be made.
struct ProbeThreadCalls {
    HANDLE(WINAPI* createThread)
    (LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) = CreateThread;
    HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) = CreateEventA;
    // The wait for a worker's end.
    DWORD(WINAPI* waitForThread)(HANDLE thread, DWORD milliseconds) = WaitForSingleObject;
};

extern ProbeThreadCalls probeThreadCalls;

// The item for `handle` of process `owner`: another process is opened for copying its handles
// (false when it cannot be), and `keepAlive` holds it for a pool.
bool SingleProbeItem(HANDLE handle, DWORD owner, ProbeItem& item,
                     std::shared_ptr<const void>& keepAlive);

class ProbePool {
  public:
    // Workers start with the first question. The items' handles must stay valid for the life
    // of the pool (`keepAlive` may hold them).
    explicit ProbePool(std::vector<ProbeItem> items, ProbePoolOptions options = {});
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;
    // Stops the workers (those inside a probe get the rest of their time), closes every copy
    // the pool holds on a worker, and returns once every worker is confirmed ended or given up.
    ~ProbePool();

    // The outcome for item `index`: at most about the time limit after its probe began.
    // Once answered, no worker touches that item again. NotRun when no worker could take it
    // (the native interface is missing, or no thread could be started).
    ProbeOutcome Await(std::size_t index);

    // The same without waiting: false while item `index` is still undecided.
    bool Poll(std::size_t index, ProbeOutcome& outcome);

    // Naming pools only: the name of item `index` as ResolveHandleName gives it. A timed-out
    // item has the empty name. False when the item was not run, could not be copied, its name
    // could not be read, or the filter turned it away. No name is ever asked on the caller's
    // thread. Each item is asked once.
    bool TakeName(std::size_t index, std::string& name);

    struct Shared;
    struct Slot;

  private:
    struct Worker;

    void Watch(LONGLONG now);
    void EndOverdue(LONGLONG now);
    void MarkToEnd(std::size_t at, LONG64 state, LONGLONG now);
    void TerminateIfBlocked(std::size_t at, LONGLONG now, bool stopping);
    void CheckEnded(std::size_t at, LONGLONG now, bool stopping);
    void AfterEnd(std::size_t at);
    bool StartWorkers(bool stopping);
    void GiveUpOnUnclaimed();
    void Decide(std::size_t index, ProbeOutcome outcome);
    void QueueClose(HANDLE copy);
    bool RedoName(std::size_t index, std::string& name);
    void Finish();
    bool AnyLost() const;

    std::unique_ptr<Shared> shared;
    std::vector<Worker> workers;  // the caller's view of each slot
    std::vector<ProbeOutcome> outcomes;
    std::vector<bool> decided;
    ProbePoolOptions options;  // its filter and keepAlive are moved into the shared records
    LONGLONG ticksPerMs = 1;   // performance counter ticks
    LONGLONG lastWatch = 0;
    LONGLONG stoppedAt = 0;
    int failedStarts = 0;
};

}  // namespace vesperlin::sysinfo::win32

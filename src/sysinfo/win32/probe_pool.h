#pragma once
// File-name probes of many handles at once: a few worker threads take the handles one by one
// in order, so that a handful of handles whose name query hangs cost about one time limit
// together instead of one each, and a normal handle costs no thread of its own.
//
// A naming pool goes further: its workers also copy each handle of another process into ours,
// ask the copy's object name once its probe has finished, and close the copy. Every step of
// that is a round trip to the platform, and the workers overlap them; the caller only collects
// the names in order.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/name_probe.h"

namespace vesperlin::win32 {

inline constexpr std::size_t ProbePoolSize = 4;

// One handle for a naming pool: a handle of process `owner` (open with PROCESS_DUP_HANDLE), or
// with a null owner one of our own process, used in place.
struct ProbeItem {
    HANDLE owner = nullptr;
    HANDLE handle = nullptr;
};

class ProbePool {
  public:
    // Probes only: `handles` are ours and must stay valid until Await has answered for them, or
    // until the pool is gone. Workers start with the first Await.
    explicit ProbePool(std::vector<HANDLE> handles, std::size_t workers = ProbePoolSize);
    // Copies, probes and names: the owners must stay open for the life of the pool. Every copy
    // is closed by the time the pool is gone. With a `filter` (which must outlive the pool), an
    // item whose probe gave a path the filter does not admit is not named.
    explicit ProbePool(std::vector<ProbeItem> items, const NameTailFilter* filter = nullptr,
                       std::size_t workers = ProbePoolSize);
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;
    // Stops the workers: those between handles end by themselves, a hung one is terminated.
    ~ProbePool();

    // The outcome for handle `index`, waiting as long as its probe runs (at most about the
    // time limit once a worker has it). Once answered, no worker touches that handle again.
    ProbeOutcome Await(std::size_t index);

    // The same without waiting: false while the probe of handle `index` still runs.
    bool Poll(std::size_t index, ProbeOutcome& outcome);

    // Naming pool only, once Await or Poll has answered for item `index`: its name as
    // ResolveHandleName gives it. A timed-out item has the empty name; one whose probe did not
    // run is named here, on the caller's thread. False when the item could not be copied, its
    // name not read, or the filter turned it away. Each item is asked once.
    bool TakeName(std::size_t index, std::string& name);

    struct Shared;
    struct Slot;
    struct Item;

  private:
    ProbePool(std::vector<Item> items, bool naming, const NameTailFilter* filter,
              std::size_t workers);
    void Watch();
    bool StartWorker(Slot& slot);
    bool AnyWorkerAlive();
    void GiveUpOnUnclaimed();
    void GiveUpOnAll();

    std::unique_ptr<Shared> shared;
    std::vector<ProbeOutcome> outcomes;  // what the caller has decided, per handle
    std::vector<bool> decided;
    std::vector<ProbeItem> requests;  // the items as given, for the caller's own queries
    ULONGLONG lastWatch = 0;
};

}  // namespace vesperlin::win32

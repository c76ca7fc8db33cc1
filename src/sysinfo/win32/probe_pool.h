#pragma once
// File-name probes of many handles at once: a few worker threads take the handles one by one
// in order, so that a handful of handles whose name query hangs cost about one time limit
// together instead of one each, and a normal handle costs no thread of its own.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "sysinfo/win32/name_probe.h"

namespace vesperlin::win32 {

inline constexpr std::size_t ProbePoolSize = 4;

class ProbePool {
  public:
    // `handles` must stay valid in our process until Await has answered for them, or until the
    // pool is gone. Workers start with the first Await.
    explicit ProbePool(std::vector<HANDLE> handles, std::size_t workers = ProbePoolSize);
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;
    // Stops the workers: those between handles end by themselves, a hung one is terminated.
    ~ProbePool();

    // The outcome for handle `index`, waiting as long as its probe runs (at most about the
    // time limit once a worker has it). Once answered, no worker touches that handle again.
    ProbeOutcome Await(std::size_t index);

    // The same without waiting: false while the probe of handle `index` still runs.
    bool Poll(std::size_t index, ProbeOutcome& outcome);

    struct Shared;
    struct Slot;

  private:
    void Watch();
    bool StartWorker(Slot& slot);
    bool AnyWorkerAlive();
    void GiveUpOnUnclaimed();

    std::unique_ptr<Shared> shared;
    std::vector<ProbeOutcome> outcomes;  // what the caller has decided, per handle
    std::vector<bool> decided;
    ULONGLONG lastWatch = 0;
};

}  // namespace vesperlin::win32

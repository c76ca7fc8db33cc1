#include "sysinfo/procfs/slices.h"

#include <sched.h>

#include <algorithm>

namespace vesperlin::sysinfo::procfs {

namespace {

// Below this many processes a walk takes well under a millisecond: no threads.
constexpr std::size_t kItemsPerSlice = 64;
constexpr std::size_t kMaxSlices = 4;

std::size_t UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

std::size_t SliceCountFor(std::size_t items) {
    std::size_t bySize = std::max<std::size_t>(1, items / kItemsPerSlice);
    return std::min({UsableCores(), kMaxSlices, bySize});
}

void RunSlices(std::size_t items, std::size_t slices,
               const std::function<void(std::size_t, std::size_t, std::size_t)>& work) {
    slices = std::max<std::size_t>(1, slices);
    std::vector<std::exception_ptr> failures(slices);
    auto runSlice = [&](std::size_t slice) {
        try {
            work(slice, items * slice / slices, items * (slice + 1) / slices);
        } catch (...) {
            failures[slice] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(slices);
    for (std::size_t slice = 1; slice < slices; ++slice) {
        try {
            threads.emplace_back(runSlice, slice);
        } catch (...) {
            runSlice(slice);  // no thread to be had: the slice still gets done, here
        }
    }
    runSlice(0);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

}  // namespace vesperlin::sysinfo::procfs

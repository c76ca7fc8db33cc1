#pragma once
// Splits a walk over many processes into contiguous slices run side by side. Reading /proc is
// kernel work per entry; on a machine with several cores the slices finish in a fraction of
// the time of one walk. Results stay in walk order: each slice fills its own output and the
// caller joins them in slice order.

#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace vesperlin::sysinfo::procfs {

// How many slices a walk over `items` entries should use: one per usable core (at most four),
// and a single slice for walks too small to pay for a thread.
std::size_t SliceCountFor(std::size_t items);

// Runs work(slice, begin, end) for `slices` contiguous ranges of [0, items). Slice 0 runs on
// the calling thread. An exception thrown by any slice is rethrown here once all have ended.
void RunSlices(
    std::size_t items, std::size_t slices,
    const std::function<void(std::size_t slice, std::size_t begin, std::size_t end)>& work);

}  // namespace vesperlin::sysinfo::procfs

#pragma once
// The counters that tell what the handle pass costs: processes opened and handles copied (by
// OpenProcessForDuplicate and DuplicateIntoSelf), probe threads started and terminated (a worker
// told to stop ends itself unless it is blocked in a query), probes timed out, and the longest
// the caller had to wait for one handle once its probe had begun.

#include <cstddef>

namespace vesperlin::sysinfo::win32 {

// Touched only by the thread that runs the handle pass; probe workers never count.
struct HandlePassCounters {
    std::size_t processesOpened = 0;
    std::size_t handlesCopied = 0;
    std::size_t threadsCreated = 0;
    std::size_t threadsTerminated = 0;
    std::size_t probeTimeouts = 0;
    std::size_t longestWaitUs = 0;  // the largest, not a sum: reset it to measure a stretch
};

extern HandlePassCounters handlePassCounters;

}  // namespace vesperlin::sysinfo::win32

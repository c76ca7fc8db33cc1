#pragma once
// The process snapshot's index: process identifier -> record, in 17 chained buckets. The walk
// order (buckets 0..16, each chain from its head, newest key first) decides the order of the
// module list, and with it the order of the module hits the user sees.

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "sysinfo/system.h"

namespace vesperlin::sysinfo {

class ProcessIndexCore {
  public:
    static constexpr std::size_t kBuckets = 17;

    ProcessIndexCore() { Clear(); }
    void Clear();
    // A new identifier goes to the head of its bucket's chain; a known one gets the new value.
    void Insert(ProcessId processId, const void* entry);
    const void* Lookup(ProcessId processId) const;
    std::size_t Count() const { return nodes.size(); }
    void Walk(const std::function<void(ProcessId, const void*)>& visit) const;

  private:
    static constexpr std::size_t kEnd = static_cast<std::size_t>(-1);
    static std::size_t BucketOf(ProcessId processId) { return (processId >> 4) % kBuckets; }

    struct Node {
        ProcessId processId;
        const void* entry;
        std::size_t next;
    };
    std::vector<Node> nodes;
    std::array<std::size_t, kBuckets> heads{};
};

// The same index over records of one type; the records stay owned by the caller.
template <typename Entry>
class ProcessIndex {
  public:
    void Clear() { core.Clear(); }
    void Insert(ProcessId processId, const Entry* entry) { core.Insert(processId, entry); }
    const Entry* Lookup(ProcessId processId) const {
        return static_cast<const Entry*>(core.Lookup(processId));
    }
    std::size_t Count() const { return core.Count(); }
    void Walk(const std::function<void(ProcessId, const Entry&)>& visit) const {
        core.Walk([&](ProcessId processId, const void* entry) {
            visit(processId, *static_cast<const Entry*>(entry));
        });
    }

  private:
    ProcessIndexCore core;
};

}  // namespace vesperlin::sysinfo

#include "sysinfo/process_index.h"

namespace vesperlin::sysinfo {

void ProcessIndexCore::Clear() {
    nodes.clear();
    heads.fill(kEnd);
}

void ProcessIndexCore::Insert(ProcessId processId, const void* entry) {
    std::size_t& head = heads[BucketOf(processId)];
    for (std::size_t at = head; at != kEnd; at = nodes[at].next) {
        if (nodes[at].processId == processId) {
            nodes[at].entry = entry;
            return;
        }
    }
    nodes.push_back(Node{processId, entry, head});
    head = nodes.size() - 1;
}

const void* ProcessIndexCore::Lookup(ProcessId processId) const {
    for (std::size_t at = heads[BucketOf(processId)]; at != kEnd; at = nodes[at].next) {
        if (nodes[at].processId == processId) return nodes[at].entry;
    }
    return nullptr;
}

void ProcessIndexCore::Walk(const std::function<void(ProcessId, const void*)>& visit) const {
    for (std::size_t head : heads) {
        for (std::size_t at = head; at != kEnd; at = nodes[at].next)
            visit(nodes[at].processId, nodes[at].entry);
    }
}

}  // namespace vesperlin::sysinfo

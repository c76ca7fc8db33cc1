#include "sysinfo/procfs/module_table.h"

namespace vesperlin::sysinfo::procfs {

void ModuleTable::Clear() {
    entries.clear();
    targets.clear();
}

const std::string* ModuleTable::Intern(const std::string& path, bool deleted,
                                       const FileIdentity* mapsIdentity) {
    auto [it, inserted] = entries.try_emplace(path);
    Entry& entry = it->second;
    if (inserted) entry.deleted = deleted;
    if (mapsIdentity != nullptr && !entry.haveMapsIdentity) {
        entry.haveMapsIdentity = true;
        entry.mapsIdentity = *mapsIdentity;
    }
    return &it->first;
}

std::optional<FileIdentity> ModuleTable::TargetIdentity(const std::string& fullPath) {
    auto [it, inserted] = targets.try_emplace(fullPath);
    if (inserted) it->second = IdentityOfPath(fullPath);
    return it->second;
}

std::optional<FileIdentity> ModuleTable::ModuleIdentity(const std::string& modulePath) {
    auto it = entries.find(modulePath);
    if (it == entries.end()) {
        // Not from this snapshot: a deleted name can only be compared by text.
        return IdentityOfPath(modulePath);
    }
    Entry& entry = it->second;
    // A deleted file has no name to stat (a new file may even carry its old one): only the
    // maps columns still identify it. They hold the file system's own device, which differs
    // from what stat shows on overlay mounts, so live paths are stat'ed instead.
    if (entry.deleted) {
        if (!entry.haveMapsIdentity) return std::nullopt;
        return entry.mapsIdentity;
    }
    if (!entry.statDone) {
        entry.statDone = true;
        entry.statIdentity = IdentityOfPath(modulePath);
    }
    return entry.statIdentity;
}

bool ModuleTable::Matches(const std::string& modulePath, const std::string& fullPath) {
    std::optional<FileIdentity> target = TargetIdentity(fullPath);
    if (!target) return false;
    std::optional<FileIdentity> module = ModuleIdentity(modulePath);
    return module && *module == *target;
}

}  // namespace vesperlin::sysinfo::procfs

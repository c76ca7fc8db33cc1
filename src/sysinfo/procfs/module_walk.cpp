#include "sysinfo/procfs/module_walk.h"

#include "sysinfo/procfs/maps_reader.h"
#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

// False when the user may not read the process's mappings.
bool AddProcessModules(int procFd, ProcessId processId, std::string& maps, std::string& linkText,
                       MapsEntry& entry, std::vector<MappedModule>& modules) {
    char path[32];
    int errorCode = 0;
    if (!ReadWholeFile(procFd, ProcessEntryPath(path, processId, "maps"), maps, errorCode)) {
        return !IsAccessDenied(errorCode);
    }
    const bool haveExe =
        ReadLinkText(procFd, ProcessEntryPath(path, processId, "exe"), linkText, errorCode);
    AddMappedModules(processId, haveExe ? &linkText : nullptr, maps, entry, modules);
    return true;
}

}  // namespace

void AddMappedModules(ProcessId processId, const std::string* exeLink, std::string_view maps,
                      MapsEntry& entry, std::vector<MappedModule>& modules) {
    const std::size_t first = modules.size();
    // The module of this process with that path, if there is one already.
    auto find = [&](const std::string& modulePath) -> MappedModule* {
        // A file's mappings are mostly neighbours: the last path is the usual repeat.
        if (modules.size() > first && modules.back().path == modulePath) return &modules.back();
        for (std::size_t i = first; i < modules.size(); ++i)
            if (modules[i].path == modulePath) return &modules[i];
        return nullptr;
    };
    // The executable comes first even where the kernel lists something else before it.
    if (exeLink != nullptr) {
        modules.push_back(MappedModule{
            processId, *exeLink, exeLink->ends_with(deletedSuffix), false, {}, true, 0});
    }
    std::string_view rest = maps;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!ParseMapsLine(line, entry)) continue;
        if (MappedModule* same = find(entry.path)) {
            same->mappings |= entry.permissions;
            // Only the executable can lack the columns, and it is the first of the process.
            if (!same->haveMapsIdentity) {
                same->haveMapsIdentity = true;
                same->mapsIdentity = entry.identity;
            }
            continue;
        }
        modules.push_back(MappedModule{processId, entry.path, entry.deleted, true, entry.identity,
                                       false, entry.permissions});
    }
}

void WalkModules(int procFd, std::span<const ProcessId> processIds,
                 std::vector<MappedModule>& modules, std::vector<ProcessId>& denied) {
    std::string maps, linkText;
    MapsEntry entry;
    for (ProcessId processId : processIds) {
        if (!AddProcessModules(procFd, processId, maps, linkText, entry, modules)) {
            denied.push_back(processId);
        }
    }
}

}  // namespace vesperlin::sysinfo::procfs

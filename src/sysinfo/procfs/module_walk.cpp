#include "sysinfo/procfs/module_walk.h"

#include <algorithm>

#include "sysinfo/procfs/maps_reader.h"
#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::procfs {

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
    auto listed = [&](const std::string& modulePath) {
        return std::any_of(modules.begin() + static_cast<std::ptrdiff_t>(first), modules.end(),
                           [&](const MappedModule& module) { return module.path == modulePath; });
    };
    // The executable comes first even where the kernel lists something else before it.
    if (exeLink != nullptr) {
        modules.push_back(
            MappedModule{processId, *exeLink, exeLink->ends_with(deletedSuffix), false, {}});
    }
    std::string_view rest = maps;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!ParseMapsLine(line, entry)) continue;
        // A file's mappings are mostly neighbours: the last path is the usual repeat.
        if (modules.size() > first && modules.back().path == entry.path) {
            if (!modules.back().haveMapsIdentity) {
                modules.back().haveMapsIdentity = true;
                modules.back().mapsIdentity = entry.identity;
            }
            continue;
        }
        if (listed(entry.path)) {
            // Only the executable can lack the columns, and it is the first of the process.
            MappedModule& exe = modules[first];
            if (exe.path == entry.path && !exe.haveMapsIdentity) {
                exe.haveMapsIdentity = true;
                exe.mapsIdentity = entry.identity;
            }
            continue;
        }
        modules.push_back(MappedModule{processId, entry.path, entry.deleted, true, entry.identity});
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

}  // namespace vesperlin::procfs

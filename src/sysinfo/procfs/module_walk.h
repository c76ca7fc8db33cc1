#pragma once
// The walk over every process's executable and mappings that builds the module snapshot.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/procfs/maps_reader.h"
#include "sysinfo/system.h"

namespace vesperlin::sysinfo::procfs {

struct MappedModule {
    ProcessId processId = 0;
    std::string path;  // as maps or the executable link shows it, " (deleted)" kept
    bool deleted = false;
    bool haveMapsIdentity = false;  // false for an executable that no maps line showed
    FileIdentity mapsIdentity;
    bool executable = false;     // the process's program
    std::uint16_t mappings = 0;  // the permission sets it is mapped with (MappingPermissionsBit)
};

// Appends the modules of one process: its executable (the text of its exe link, when it could
// be read) and then every file-backed mapping of its maps file, each path once. `entry` is a
// buffer the caller reuses from process to process.
void AddMappedModules(ProcessId processId, const std::string* exeLink, std::string_view maps,
                      MapsEntry& entry, std::vector<MappedModule>& modules);

// Appends, for each listed process in order, its executable and then every file-backed
// mapping, each path once per process with the permissions of all its mappings. Processes whose
// mappings the user may not read are appended to `denied`; processes that ended meanwhile are left
// out silently.
void WalkModules(int procFd, std::span<const ProcessId> processIds,
                 std::vector<MappedModule>& modules, std::vector<ProcessId>& denied);

}  // namespace vesperlin::sysinfo::procfs

#pragma once
// Reading of /proc/PID/maps lines.

#include <cstdint>
#include <string>
#include <string_view>

#include "sysinfo/procfs/file_identity.h"

namespace vesperlin::sysinfo::procfs {

struct MapsEntry {
    std::string path;  // as the kernel shows it, " (deleted)" kept; "\012" turned back into '\n'
    bool deleted = false;
    FileIdentity identity;          // from the line's device and inode columns
    std::uint16_t permissions = 0;  // the permission column as a MappingPermissionsBit
};

// One line (without its newline) of a maps file. False for mappings without a file:
// anonymous memory, [heap], [stack], [vdso] and anon_inode mappings. A memory file (memfd)
// is a file that only descriptors and mappings name: its line is read like any other.
bool ParseMapsLine(std::string_view line, MapsEntry& entry);

}  // namespace vesperlin::sysinfo::procfs

#pragma once
// Reading of /proc/PID/maps lines.

#include <string>
#include <string_view>

#include "sysinfo/procfs/file_identity.h"

namespace vesperlin::procfs {

struct MapsEntry {
    std::string path;  // as the kernel shows it, " (deleted)" kept; "\012" turned back into '\n'
    bool deleted = false;
    FileIdentity identity;  // from the line's device and inode columns
};

// One line (without its newline) of a maps file. False for mappings without a file in the
// file system: anonymous memory, [heap], [stack], [vdso], anon_inode and memfd mappings.
bool ParseMapsLine(std::string_view line, MapsEntry& entry);

}  // namespace vesperlin::procfs

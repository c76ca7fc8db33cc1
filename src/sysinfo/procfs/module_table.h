#pragma once
// The distinct module paths of one module snapshot and how they are matched against requested
// paths: by file identity, each path stat'ed at most once per snapshot and only when needed.

#include <optional>
#include <string>
#include <unordered_map>

#include "sysinfo/procfs/file_identity.h"

namespace vesperlin::sysinfo::procfs {

class ModuleTable {
  public:
    void Clear();

    // Records a path seen in a maps file (or as an executable link) and returns the table's
    // own copy, whose address stays the same until Clear: equal paths give equal pointers.
    // `mapsIdentity` is null for an executable link, which carries no device and inode.
    const std::string* Intern(const std::string& path, bool deleted,
                              const FileIdentity* mapsIdentity);

    // Whether the module at `modulePath` is the file at `fullPath`.
    bool Matches(const std::string& modulePath, const std::string& fullPath);

    // The identity of a module's file, stat'ed at most once per snapshot.
    std::optional<FileIdentity> ModuleIdentity(const std::string& modulePath);

  private:
    struct Entry {
        bool deleted = false;
        bool haveMapsIdentity = false;
        FileIdentity mapsIdentity;
        bool statDone = false;
        std::optional<FileIdentity> statIdentity;
    };

    std::optional<FileIdentity> TargetIdentity(const std::string& fullPath);

    std::unordered_map<std::string, Entry> entries;
    // Requested paths: a folder query asks about every entry against every module.
    std::unordered_map<std::string, std::optional<FileIdentity>> targets;
};

}  // namespace vesperlin::sysinfo::procfs

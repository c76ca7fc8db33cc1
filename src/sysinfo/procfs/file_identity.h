#pragma once
// A file's identity as stat reports it: the same for every name of the file (hard links,
// bind mounts, symbolic links resolved) and for every descriptor open on it.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vesperlin::sysinfo::procfs {

struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file a path of any length names, symbolic links followed; nothing when
// stat fails.
std::optional<FileIdentity> IdentityOfPath(const std::string& path);

// "dev:ino" in decimal: the text that handle names and device forms share. Appends to `out`
// so that the handle walk can reuse one buffer.
void AppendIdentityText(FileIdentity identity, std::string& out);
std::string IdentityText(FileIdentity identity);

}  // namespace vesperlin::sysinfo::procfs

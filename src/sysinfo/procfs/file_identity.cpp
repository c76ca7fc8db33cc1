#include "sysinfo/procfs/file_identity.h"

#include <sys/stat.h>

#include <charconv>

#include "sysinfo/procfs/path_walk.h"

namespace vesperlin::sysinfo::procfs {

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
    struct stat st;
    if (StatAnyLength(path, st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

void AppendIdentityText(FileIdentity identity, std::string& out) {
    // A 64-bit number has at most 20 decimal digits: both numbers and the colon fit.
    char text[48];
    char* colon = std::to_chars(text, text + 20, static_cast<unsigned long long>(identity.dev)).ptr;
    *colon = ':';
    char* end =
        std::to_chars(colon + 1, colon + 21, static_cast<unsigned long long>(identity.ino)).ptr;
    out.append(text, end);
}

std::string IdentityText(FileIdentity identity) {
    std::string text;
    AppendIdentityText(identity, text);
    return text;
}

}  // namespace vesperlin::sysinfo::procfs

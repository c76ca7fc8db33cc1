#include "sysinfo/procfs/path_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {

namespace {

// Parts handed to one call stay well below the limit, and a part always ends at a separator.
constexpr std::size_t kPartLength = PATH_MAX / 2;

// Walks `path` up to its last part, which is left in `last`; `folder` gets the descriptor the
// last part is relative to (AT_FDCWD when the path is short). -1 with errno set on failure.
int WalkToLastPart(const std::string& path, UniqueFd& folder, std::string& last) {
    if (path.size() < PATH_MAX) {
        last = path;
        return AT_FDCWD;
    }
    std::size_t at = 0;
    if (path[0] == '/') {
        folder = UniqueFd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.Valid()) return -1;
        at = 1;
    }
    while (path.size() - at >= kPartLength) {
        // The longest run of whole names that fits; a single name longer than a part cannot
        // exist (names are at most NAME_MAX bytes).
        const std::size_t cut = path.rfind('/', at + kPartLength);
        if (cut == std::string::npos || cut <= at) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string part = path.substr(at, cut - at);
        const int base = folder.Valid() ? folder.Get() : AT_FDCWD;
        UniqueFd next(openat(base, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next.Valid()) return -1;
        folder = std::move(next);
        at = cut + 1;
    }
    last = path.substr(at);
    if (last.empty()) last.push_back('.');  // the path ended in a separator: the folder itself
    return folder.Valid() ? folder.Get() : AT_FDCWD;
}

}  // namespace

int OpenAnyLength(const std::string& path, int flags) {
    UniqueFd folder;
    std::string last;
    const int base = WalkToLastPart(path, folder, last);
    if (base == -1) return -1;
    return openat(base, last.c_str(), flags | O_CLOEXEC);
}

int StatAnyLength(const std::string& path, struct stat& st, bool follow) {
    if (path.empty()) return ENOENT;
    UniqueFd folder;
    std::string last;
    const int base = WalkToLastPart(path, folder, last);
    if (base == -1) return errno;
    if (fstatat(base, last.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
    return 0;
}

}  // namespace vesperlin::sysinfo::procfs

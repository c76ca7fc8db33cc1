#pragma once
// Paths of any length. The kernel refuses a path of PATH_MAX bytes or more in a single call,
// yet folders may nest deeper than that: such a path is walked from a folder descriptor, a
// part shorter than the limit at a time.

#include <sys/stat.h>

#include <string>

namespace vesperlin::sysinfo::procfs {

// openat(AT_FDCWD, path, flags) for a path of any length; -1 with errno set on failure.
// Symbolic links in the path are followed as the kernel follows them; the last one only as
// `flags` say (O_NOFOLLOW).
int OpenAnyLength(const std::string& path, int flags);

// stat (or lstat without `follow`) for a path of any length. 0, or the errno of the failure.
int StatAnyLength(const std::string& path, struct stat& st, bool follow = true);

}  // namespace vesperlin::sysinfo::procfs

#include "sysinfo/procfs/proc_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace vesperlin::sysinfo::procfs {

void UniqueFd::Reset() {
    if (fd >= 0) close(fd);
    fd = -1;
}

UniqueFd OpenProcRoot(const char* procRoot) {
    return UniqueFd(open(procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool ListProcessIds(int procFd, std::vector<ProcessId>& ids) {
    ids.clear();
    // A descriptor of its own: the directory stream closes it, and the caller keeps procFd.
    int listFd = openat(procFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return false;
    DIR* dir = fdopendir(listFd);
    if (dir == nullptr) {
        close(listFd);
        return false;
    }
    return ReadEntries(dir, [&](const char* name) {
        ProcessId id = 0;
        if (ParseProcessId(name, id)) ids.push_back(id);
    });
}

bool ParseProcessId(std::string_view name, ProcessId& processId) {
    if (name.empty() || name[0] < '1' || name[0] > '9') return false;
    ProcessId id = 0;
    const char* end = name.data() + name.size();
    auto [stop, error] = std::from_chars(name.data(), end, id);
    if (error != std::errc() || stop != end) return false;
    processId = id;
    return true;
}

bool ReadEntries(DIR* dir, const std::function<void(const char* name)>& each) {
    bool complete = true;
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (entry == nullptr) {
            complete = errno == 0;  // null with an error: the listing broke off
            break;
        }
        each(entry->d_name);
    }
    closedir(dir);
    return complete;
}

const char* ProcessEntryPath(char* buffer, ProcessId processId, const char* leaf) {
    auto [end, error] = std::to_chars(buffer, buffer + 12, processId);
    (void)error;  // a 32-bit number always fits in 12 characters
    *end++ = '/';
    std::size_t leafLength = std::strlen(leaf);
    std::memcpy(end, leaf, leafLength + 1);
    return buffer;
}

bool ReadWholeFile(int dirFd, const char* path, std::string& content, int& errorCode) {
    content.clear();
    int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorCode = errno;
        return false;
    }
    // /proc files report no size: read in chunks until end of file.
    char chunk[16384];
    bool ok = true;
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof(chunk));
        if (got > 0) {
            content.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            errorCode = errno;
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

bool ReadLinkText(int dirFd, const char* path, std::string& text, int& errorCode) {
    char buffer[4096];
    ssize_t length = readlinkat(dirFd, path, buffer, sizeof(buffer));
    if (length < 0) {
        errorCode = errno;
        return false;
    }
    if (static_cast<std::size_t>(length) == sizeof(buffer)) {
        errorCode = ENAMETOOLONG;  // possibly cut: better no name than a wrong one
        return false;
    }
    text.assign(buffer, static_cast<std::size_t>(length));
    return true;
}

bool IsAccessDenied(int errorCode) {
    return errorCode == EACCES || errorCode == EPERM;
}

}  // namespace vesperlin::sysinfo::procfs

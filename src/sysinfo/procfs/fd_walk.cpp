#include "sysinfo/procfs/fd_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "sysinfo/procfs/directory_records.h"
#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {

namespace {

bool DeviceOf(int fd, dev_t& dev) {
    if (fd < 0) return false;  // this kernel lacks the kind: nothing of it can be open either
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    if (known) dev = st.st_dev;
    close(fd);
    return known;
}

}  // namespace

KernelDevices::KernelDevices() {
    anonymousKnown = DeviceOf(eventfd(0, EFD_CLOEXEC), anonymousDev);
    socketKnown = DeviceOf(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0), socketDev);
}

void WalkFileHandles(int procFd, std::span<const ProcessId> processIds, const KernelDevices& kernel,
                     std::vector<HandleRow>& rows, std::vector<ProcessId>& denied) {
    // getdents64 straight into one buffer: no directory stream to allocate per process.
    alignas(8) char buffer[16384];
    char path[32];
    for (ProcessId processId : processIds) {
        int fdDir = openat(procFd, ProcessEntryPath(path, processId, "fd"),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0) {
            if (IsAccessDenied(errno)) denied.push_back(processId);
            continue;
        }
        for (;;) {
            ssize_t got = getdents64(fdDir, buffer, sizeof(buffer));
            if (got < 0 && IsAccessDenied(errno)) denied.push_back(processId);
            if (got <= 0) break;
            const std::span<const char> records(buffer, static_cast<std::size_t>(got));
            const char* name = nullptr;
            for (std::size_t at = 0; NextDirectoryRecord(records, at, name);) {
                if (name[0] == '.') continue;
                struct stat st;
                // stat follows the descriptor's link to the open file itself, so renamed,
                // deleted and bind-mounted files keep their identity, and pipes, sockets and
                // memory files have one of their own.
                if (fstatat(fdDir, name, &st, 0) != 0) continue;
                if ((st.st_mode & S_IFMT) == 0 || kernel.SharesInodes(st.st_dev)) continue;
                std::int32_t number = 0;
                const auto [stop, error] = std::from_chars(name, name + std::strlen(name), number);
                if (error != std::errc() || *stop != '\0') continue;
                rows.push_back(HandleRow{processId, number, FileIdentity{st.st_dev, st.st_ino}});
            }
        }
        close(fdDir);
        // The current and root folders are in use just as an open folder is (on Windows the
        // current folder is an open handle), and they keep a file system from being unmounted.
        const std::pair<const char*, std::int32_t> folders[] = {{"cwd", kCurrentFolderRow},
                                                                {"root", kRootFolderRow}};
        for (const auto& [leaf, row] : folders) {
            struct stat st;
            if (fstatat(procFd, ProcessEntryPath(path, processId, leaf), &st, 0) == 0) {
                rows.push_back(HandleRow{processId, row, FileIdentity{st.st_dev, st.st_ino}});
            }
        }
    }
}

}  // namespace vesperlin::sysinfo::procfs

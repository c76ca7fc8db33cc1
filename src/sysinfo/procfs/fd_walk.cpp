#include "sysinfo/procfs/fd_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "sysinfo/procfs/directory_records.h"
#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::procfs {

namespace {

void AddDeviceOf(int fd, dev_t* devices, int& count) {
    struct stat st;
    if (fd < 0) return;  // this kernel lacks the kind: nothing of it can be open either
    if (fstat(fd, &st) == 0) {
        bool known = false;
        for (int i = 0; i < count; ++i) known = known || devices[i] == st.st_dev;
        if (!known && count < 4) devices[count++] = st.st_dev;
    }
    close(fd);
}

}  // namespace

PseudoDevices::PseudoDevices() {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) == 0) {
        close(pipeFds[1]);
        AddDeviceOf(pipeFds[0], devices, count);
    }
    AddDeviceOf(eventfd(0, EFD_CLOEXEC), devices, count);
    AddDeviceOf(memfd_create("vesperlin-probe", MFD_CLOEXEC), devices, count);
#ifdef SYS_pidfd_open
    AddDeviceOf(static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0)), devices, count);
#endif
}

bool PseudoDevices::Contains(dev_t dev) const {
    for (int i = 0; i < count; ++i) {
        if (devices[i] == dev) return true;
    }
    return false;
}

void WalkFileHandles(int procFd, std::span<const ProcessId> processIds, const PseudoDevices& pseudo,
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
                // deleted and bind-mounted files keep their identity.
                if (fstatat(fdDir, name, &st, 0) != 0) continue;
                mode_t type = st.st_mode & S_IFMT;
                if (type == 0 || type == S_IFSOCK || pseudo.Contains(st.st_dev)) continue;
                rows.push_back(HandleRow{processId, FileIdentity{st.st_dev, st.st_ino}});
            }
        }
        close(fdDir);
        // The current folder is in use just as an open one is (on Windows it is an open
        // handle), and it is what keeps a file system from being unmounted.
        struct stat st;
        if (fstatat(procFd, ProcessEntryPath(path, processId, "cwd"), &st, 0) == 0) {
            rows.push_back(HandleRow{processId, FileIdentity{st.st_dev, st.st_ino}});
        }
    }
}

}  // namespace vesperlin::procfs

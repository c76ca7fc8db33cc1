#include "unit/procfs/forked_holder.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vesperlin::testing {

namespace {

bool ReadAll(int fd, std::string& text, int timeoutMs) {
    char buffer[4096];
    for (;;) {
        pollfd poller{fd, POLLIN, 0};
        int ready = poll(&poller, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;  // a child that never answers must not hang the test
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return true;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace

ForkedHolder::ForkedHolder(const std::function<bool()>& setup) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (setup()) {
            char ok = '1';
            if (write(fds[1], &ok, 1) == 1) {
                close(fds[1]);
                for (;;) pause();
            }
        }
        _exit(3);
    }
    close(fds[1]);
    if (pid > 0) {
        std::string answer;
        ReadAll(fds[0], answer, 10000);
        ready = answer == "1";
    }
    close(fds[0]);
}

ForkedHolder::~ForkedHolder() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string RunInChild(const std::function<void(int outFd)>& work) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        work(fds[1]);
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    if (child < 0) {
        close(fds[0]);
        return "fork failed";
    }
    bool finished = ReadAll(fds[0], text, 60000);
    close(fds[0]);
    if (!finished) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += "exit:" + std::to_string(status);
    return text;
}

bool DropPrivileges(uid_t uid, gid_t gid) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return false;
    // A change of user makes the process undumpable, which hides its /proc entries even from
    // that same user.
    return prctl(PR_SET_DUMPABLE, 1) == 0;
}

namespace {
const std::string kDeepName(200, 'd');
}  // namespace

bool EnterDeepFolder(int levels) {
    for (int i = 0; i < levels; ++i) {
        if ((mkdir(kDeepName.c_str(), 0755) != 0 && errno != EEXIST) ||
            chdir(kDeepName.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

void LeaveDeepFolder(int levels, const char* leftover) {
    if (leftover) unlink(leftover);
    for (int i = 0; i < levels; ++i) {
        if (chdir("..") != 0) return;
        rmdir(kDeepName.c_str());
    }
}

int UnixSocket(const std::string& path, bool listener) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    const bool ok = listener ? bind(fd, raw, sizeof(address)) == 0 && listen(fd, 4) == 0
                             : connect(fd, raw, sizeof(address)) == 0;
    if (fd >= 0 && !ok) {
        close(fd);
        return -1;
    }
    return fd;
}

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/vesperlin-procfs-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        path = pattern;
        chmod(pattern, 0755);
    }
}

ScratchFolder::~ScratchFolder() {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string ScratchFolder::MakeFile(const std::string& name, const std::string& content) const {
    std::string file = path + "/" + name;
    std::ofstream(file) << content;
    chmod(file.c_str(), 0644);
    return file;
}

std::string ScratchFolder::MakeFolder(const std::string& name) const {
    std::string folder = path + "/" + name;
    mkdir(folder.c_str(), 0755);
    return folder;
}

}  // namespace vesperlin::testing

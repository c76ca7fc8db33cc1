#pragma once
// Child processes for the /proc tests: a forked child runs a setup (open a file, map one, drop
// privileges ...), tells the parent it is ready through a pipe, and waits to be killed. The
// object kills and reaps it when it goes.

#include <sys/types.h>

#include <functional>
#include <string>

namespace vesperlin::testing {

class ForkedHolder {
  public:
    // `setup` runs in the child; the child reports ready only when it returns true.
    explicit ForkedHolder(const std::function<bool()>& setup);
    ~ForkedHolder();
    ForkedHolder(const ForkedHolder&) = delete;
    ForkedHolder& operator=(const ForkedHolder&) = delete;

    bool Ready() const { return ready; }
    pid_t Id() const { return pid; }

  private:
    pid_t pid = -1;
    bool ready = false;
};

// Runs `work` in a forked child and returns what it wrote to the given descriptor (a pipe to
// the parent), or "exit:<status>" appended when the child failed. For inspections that must
// run with other credentials than the test's.
std::string RunInChild(const std::function<void(int outFd)>& work);

// Switches the calling process to another user and group, keeping it inspectable by that user.
bool DropPrivileges(uid_t uid, gid_t gid);

// Makes `levels` nested folders with long names below the current folder and enters the
// innermost, whose path is then far longer than PATH_MAX. For a child process: it changes the
// current folder. LeaveDeepFolder goes back up, removing them (and a file `leftover` in the
// innermost).
inline constexpr int kDeepLevels = 24;  // of 200-byte names: about 4,800 bytes
bool EnterDeepFolder(int levels = kDeepLevels);
void LeaveDeepFolder(int levels = kDeepLevels, const char* leftover = nullptr);

// A UNIX socket bound to the file `path` and listening, or with `listener` false one connected
// to it; -1 when that fails.
int UnixSocket(const std::string& path, bool listener);

// A fresh folder under /tmp (readable by everyone), removed with its contents at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path; }
    std::string MakeFile(const std::string& name, const std::string& content = "data") const;
    std::string MakeFolder(const std::string& name) const;

  private:
    std::string path;
};

}  // namespace vesperlin::testing

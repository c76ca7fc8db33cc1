#pragma once
// Small pieces of /proc reading shared by the snapshots: the process list, whole-file reads
// and symbolic link text, all relative to an open /proc descriptor so that no per-process
// path strings are built.

#include <dirent.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sysinfo/system.h"

namespace vesperlin::sysinfo::procfs {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    int Release() {
        int released = fd;
        fd = -1;
        return released;
    }
    void Reset();

  private:
    int fd = -1;
};

UniqueFd OpenProcRoot(const char* procRoot = "/proc");

// The process identifier an entry name of /proc stands for: decimal digits without a leading
// zero that fit in 32 bits. False for every other name.
bool ParseProcessId(std::string_view name, ProcessId& processId);

// The numeric entries of /proc in the order the kernel lists them (ascending). False when
// /proc cannot be read.
bool ListProcessIds(int procFd, std::vector<ProcessId>& ids);

// Calls `each` with every entry name of `dir`, in listing order, then closes `dir`. False when
// the listing broke off with an error.
bool ReadEntries(DIR* dir, const std::function<void(const char* name)>& each);

// "<pid>/<leaf>" in `buffer`, which must hold 32 characters.
const char* ProcessEntryPath(char* buffer, ProcessId processId, const char* leaf);

// Whole content of a file relative to `dirFd`; `errorCode` gets errno on failure.
bool ReadWholeFile(int dirFd, const char* path, std::string& content, int& errorCode);

// Text of a symbolic link relative to `dirFd`; `errorCode` gets errno on failure.
bool ReadLinkText(int dirFd, const char* path, std::string& text, int& errorCode);

// Whether a failure to read a process's entries means "not allowed" (rather than "gone").
bool IsAccessDenied(int errorCode);

}  // namespace vesperlin::sysinfo::procfs

#pragma once
// Test tools: native entry points replaced for one test and put back after it, counters of the
// calls that pass through, and counts of our own handles and threads.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "sysinfo/win32/nt_api.h"

namespace vesperlin::testing {

// Puts the whole NtApi table back as it was when the object was made.
class NtApiRestorer {
  public:
    NtApiRestorer() : saved(win32::NtApi) {}
    ~NtApiRestorer() { win32::NtApi = saved; }
    const win32::NtApiTable& Real() const { return saved; }

  private:
    win32::NtApiTable saved;
};

// NtQueryObject that forwards to the real entry and counts the calls by class.
struct ObjectQueryCounter {
    static std::atomic<int> nameQueries;  // class 1
    static std::atomic<int> typeQueries;  // class 2
    static void Install(const NtApiRestorer& restorer);
};

// NtQueryInformationFile that never returns, and one that returns after 50 ms.
void InstallBlockingFileNameQuery();
void InstallSlowFileNameQuery();

std::size_t OwnHandleCount();
std::size_t OwnThreadCount();

// `a` and `b` equal ignoring ASCII case.
bool SameIgnoringCase(const std::string& a, const std::string& b);

// The forms in which the platform may name the disk file at the drive-letter path `path`:
// the Win32 namespace form (Wine) and the device form (Windows).
bool NamesDiskPath(const std::string& handleName, const std::string& path);

}  // namespace vesperlin::testing

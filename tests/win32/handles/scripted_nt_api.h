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

// NtQueryObject that asks for a 16 KiB reply before it gives an object's name.
void InstallLargeReplyOnlyNameQuery(const NtApiRestorer& restorer);

// NtQueryInformationFile that never returns, and one that returns after 50 ms.
void InstallBlockingFileNameQuery();
void InstallSlowFileNameQuery();

// NtQueryInformationFile that answers as the real one, except that it never returns for files
// whose name holds "\\blocked-". Notes when each such call began to hang.
struct MarkedFileBlocker {
    static constexpr int kMostNoted = 64;
    static std::atomic<int> hung;
    static ULONGLONG hungAt[kMostNoted];
    // Part of the name of every folder this test process makes (set by Install).
    static std::wstring ownFolderMarker;
    static void Install(const NtApiRestorer& restorer);
    // Milliseconds between the first and the last call that hung.
    static ULONGLONG HangSpread();
};

std::size_t OwnHandleCount();
std::size_t OwnThreadCount();

// `a` and `b` equal ignoring ASCII case.
bool SameIgnoringCase(const std::string& a, const std::string& b);

// The device form of the drive-letter path `path` (empty when the drive has none).
std::string DeviceFormOf(const std::string& path);

// The forms in which the platform may name the disk file at the drive-letter path `path`:
// the Win32 namespace form (Wine) and the device form (Windows).
bool NamesDiskPath(const std::string& handleName, const std::string& path);

}  // namespace vesperlin::testing

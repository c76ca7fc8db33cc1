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
    NtApiRestorer() : saved(sysinfo::win32::NtApi) {}
    ~NtApiRestorer() { sysinfo::win32::NtApi = saved; }
    const sysinfo::win32::NtApiTable& Real() const { return saved; }

  private:
    sysinfo::win32::NtApiTable saved;
};

// NtQueryObject that forwards to the real entry and counts the calls by class, and the name
// queries made on the thread that installed it (a test's own thread).
struct ObjectQueryCounter {
    static std::atomic<int> nameQueries;  // class 1
    static std::atomic<int> typeQueries;  // class 2
    static std::atomic<int> nameQueriesOnInstaller;
    static void Install(const NtApiRestorer& restorer);
};

// NtQueryObject that gives an object's name only into a reply of `replyLength` bytes or more
// (asking for that length before), as for a name too long for a small reply; with a length
// beyond what any name can need, it never gives one. Counts the name queries as above.
void InstallLargeReplyOnlyNameQuery(const NtApiRestorer& restorer, ULONG replyLength = 16 * 1024);

// NtQueryInformationFile that never returns, and one that returns after 50 ms.
void InstallBlockingFileNameQuery();
void InstallSlowFileNameQuery();

// NtQueryInformationFile that answers as the real one, except that it does not return for
// files of this test process whose name holds "\\blocked-" until Release (never, unless
// released). Notes when each such call began to hang, and on which thread.
struct MarkedFileBlocker {
    static constexpr int kMostNoted = 1024;
    static std::atomic<int> hung;
    static ULONGLONG hungAt[kMostNoted];
    static DWORD hungThreads[kMostNoted];
    // Part of the name of every folder this test process makes (set by Install).
    static std::wstring ownFolderMarker;
    static void Install(const NtApiRestorer& restorer);
    // Lets every blocked call, and every later one, return.
    static void Release();
    // Milliseconds between the first and the last call that hung.
    static ULONGLONG HangSpread();
    // Whether a call hung on thread `threadId`.
    static bool HungOn(DWORD threadId);
};

// NtQueryInformationFile whose answers for this test process's own files (all of them, or only
// those whose name holds "\\slow-") come after 90 to 130 ms: a spread that straddles the
// probe's time limit. Notes every such call: when it began and returned, and on which thread.
struct StraddlingFileQuery {
    struct Call {
        std::atomic<DWORD> thread;
        std::atomic<ULONGLONG> threadCreated;  // with `thread`, tells threads apart for good
        std::atomic<HANDLE> handle;
        std::atomic<bool> returned;
    };
    static constexpr int kMostCalls = 1 << 16;
    static Call calls[kMostCalls];
    static std::atomic<int> count;
    static void Install(const NtApiRestorer& restorer, bool slowNamesOnly);
};

// Replaces the probe pool's thread calls for one test and puts them back after it.
class ScriptedThreads {
  public:
    ScriptedThreads();
    ~ScriptedThreads();
    ScriptedThreads(const ScriptedThreads&) = delete;
    ScriptedThreads& operator=(const ScriptedThreads&) = delete;

    // Thread creation fails once `creations` threads have been made.
    void FailCreationAfter(int creations);
    // The first `count` threads end as soon as they start, as if ended while starting.
    void EndWhileStarting(int count);
    // The first `count` threads take `delayMs` to start.
    void StartSlowly(int count, DWORD delayMs);
    // The end of a thread that hung in MarkedFileBlocker can never be confirmed.
    void NeverConfirmHungThreads();
    void FailEventCreation();

    static std::atomic<int> created;        // threads made through the script
    static std::atomic<int> routinesBegun;  // of those, how many began their routine
    static std::atomic<int> ranToTheEnd;    // and how many returned from it
};

// Ends the test program when rounds of a test make no progress for 15 s: a round that stalls
// never returns, and a report of where it stalled beats a test that only times out.
class StallWatch {
  public:
    StallWatch();
    ~StallWatch();
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;
    void Progress(int round, std::size_t row);

  private:
    static DWORD WINAPI Run(LPVOID watch);
    std::atomic<bool> done{false};
    std::atomic<int> round{0};
    std::atomic<std::size_t> row{0};
    std::atomic<ULONGLONG> lastProgress;
    HANDLE thread = nullptr;
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

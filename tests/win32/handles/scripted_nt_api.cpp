#include "scripted_nt_api.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/probe_pool.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vesperlin::testing {

namespace {

// A thread as the platform knows it: identifiers are reused, creation times are not.
struct ThreadIdentity {
    DWORD id = 0;
    ULONGLONG created = 0;
    bool operator==(const ThreadIdentity&) const = default;
};

ThreadIdentity Identify(HANDLE thread) {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    return {GetThreadId(thread),
            (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime};
}

sysinfo::win32::NtQueryObjectFn realQueryObject = nullptr;
DWORD objectCounterInstaller = 0;

void CountObjectQuery(ULONG infoClass) {
    if (infoClass == 1) ++ObjectQueryCounter::nameQueries;
    if (infoClass == 2) ++ObjectQueryCounter::typeQueries;
    if (infoClass == 1 && GetCurrentThreadId() == objectCounterInstaller)
        ++ObjectQueryCounter::nameQueriesOnInstaller;
}

NTSTATUS NTAPI CountingQueryObject(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                   PULONG returnLength) {
    CountObjectQuery(infoClass);
    return realQueryObject(handle, infoClass, buffer, length, returnLength);
}

ULONG largeReply = 0;

NTSTATUS NTAPI LargeReplyOnlyNameQuery(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                       PULONG returnLength) {
    CountObjectQuery(infoClass);
    if (infoClass == 1 && length < largeReply) {
        if (returnLength) *returnLength = largeReply;
        return static_cast<NTSTATUS>(0xC0000004L);  // STATUS_INFO_LENGTH_MISMATCH
    }
    return realQueryObject(handle, infoClass, buffer, length, returnLength);
}

NTSTATUS NTAPI NeverReturningFileQuery(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG) {
    Sleep(INFINITE);
    return 0;
}

sysinfo::win32::NtQueryInformationFileFn realFileQuery = nullptr;

NTSTATUS NTAPI SlowFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer, ULONG length,
                             ULONG infoClass) {
    Sleep(50);
    return realFileQuery(file, block, buffer, length, infoClass);
}

// Whether a successful file-name answer names a file in a folder of this test process whose
// name holds `mark`.
bool NamesOwnFile(NTSTATUS status, PVOID buffer, ULONG length, const wchar_t* mark) {
    if (status != 0 || length < sizeof(FILE_NAME_INFORMATION)) return false;
    const auto* info = static_cast<const FILE_NAME_INFORMATION*>(buffer);
    const std::wstring name(
        info->FileName,
        std::min<ULONG>(info->FileNameLength, length - sizeof(ULONG)) / sizeof(WCHAR));
    // Only this test process's own files: tests running beside it hold files of the same
    // names, and the handle snapshot sees every process's handles.
    return name.find(mark) != std::wstring::npos &&
           name.find(MarkedFileBlocker::ownFolderMarker) != std::wstring::npos;
}

void NoteOwnFolder() {
    // TempFolder names its folders after the test process.
    MarkedFileBlocker::ownFolderMarker =
        L"vesperlin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
}

sysinfo::win32::NtQueryInformationFileFn realMarkedFileQuery = nullptr;
HANDLE blockerRelease = nullptr;  // made once, never closed: blocked threads may wait on it
ThreadIdentity hungIdentities[MarkedFileBlocker::kMostNoted];

NTSTATUS NTAPI MarkedBlockingFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer,
                                       ULONG length, ULONG infoClass) {
    const NTSTATUS status = realMarkedFileQuery(file, block, buffer, length, infoClass);
    if (!NamesOwnFile(status, buffer, length, L"\\blocked-")) return status;
    const int slot = MarkedFileBlocker::hung++;
    if (slot < MarkedFileBlocker::kMostNoted) {
        MarkedFileBlocker::hungAt[slot] = GetTickCount64();
        MarkedFileBlocker::hungThreads[slot] = GetCurrentThreadId();
        hungIdentities[slot] = Identify(GetCurrentThread());
    }
    // Unless released, never returns: the probe's time limit ends this thread.
    WaitForSingleObject(blockerRelease, INFINITE);
    return status;
}

sysinfo::win32::NtQueryInformationFileFn realStraddledQuery = nullptr;
bool straddleSlowOnly = false;

NTSTATUS NTAPI StraddlingQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer, ULONG length,
                               ULONG infoClass) {
    const NTSTATUS status = realStraddledQuery(file, block, buffer, length, infoClass);
    if (!NamesOwnFile(status, buffer, length, straddleSlowOnly ? L"\\slow-" : L"\\")) return status;
    const int at = StraddlingFileQuery::count++;
    StraddlingFileQuery::Call* call =
        at < StraddlingFileQuery::kMostCalls ? &StraddlingFileQuery::calls[at] : nullptr;
    if (call) {
        const ThreadIdentity self = Identify(GetCurrentThread());
        call->thread = self.id;
        call->threadCreated = self.created;
        call->handle = file;
        call->returned = false;
    }
    // 90 to 130 ms, spread evenly over the calls (no runtime calls here: this thread may be
    // terminated at any instruction).
    const unsigned spread = (static_cast<unsigned>(at) * 2654435761u >> 16) % 41;
    Sleep(90 + spread);
    if (call) call->returned = true;
    return status;
}

}  // namespace

std::atomic<int> MarkedFileBlocker::hung{0};
std::wstring MarkedFileBlocker::ownFolderMarker;
ULONGLONG MarkedFileBlocker::hungAt[MarkedFileBlocker::kMostNoted];
DWORD MarkedFileBlocker::hungThreads[MarkedFileBlocker::kMostNoted];

void MarkedFileBlocker::Install(const NtApiRestorer& restorer) {
    realMarkedFileQuery = restorer.Real().NtQueryInformationFile;
    hung = 0;
    NoteOwnFolder();
    if (!blockerRelease) blockerRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(blockerRelease);
    sysinfo::win32::NtApi.NtQueryInformationFile = MarkedBlockingFileQuery;
}

void MarkedFileBlocker::Release() {
    SetEvent(blockerRelease);
}

ULONGLONG MarkedFileBlocker::HangSpread() {
    const int count = std::min(hung.load(), kMostNoted);
    if (count == 0) return 0;
    const auto [first, last] = std::minmax_element(hungAt, hungAt + count);
    return *last - *first;
}

bool MarkedFileBlocker::HungOn(DWORD threadId) {
    const int count = std::min(hung.load(), kMostNoted);
    return std::find(hungThreads, hungThreads + count, threadId) != hungThreads + count;
}

StraddlingFileQuery::Call StraddlingFileQuery::calls[StraddlingFileQuery::kMostCalls];
std::atomic<int> StraddlingFileQuery::count{0};

void StraddlingFileQuery::Install(const NtApiRestorer& restorer, bool slowNamesOnly) {
    realStraddledQuery = restorer.Real().NtQueryInformationFile;
    straddleSlowOnly = slowNamesOnly;
    count = 0;
    NoteOwnFolder();
    sysinfo::win32::NtApi.NtQueryInformationFile = StraddlingQuery;
}

std::atomic<int> ObjectQueryCounter::nameQueries{0};
std::atomic<int> ObjectQueryCounter::typeQueries{0};
std::atomic<int> ObjectQueryCounter::nameQueriesOnInstaller{0};

void ObjectQueryCounter::Install(const NtApiRestorer& restorer) {
    realQueryObject = restorer.Real().NtQueryObject;
    objectCounterInstaller = GetCurrentThreadId();
    nameQueries = 0;
    typeQueries = 0;
    nameQueriesOnInstaller = 0;
    sysinfo::win32::NtApi.NtQueryObject = CountingQueryObject;
}

void InstallLargeReplyOnlyNameQuery(const NtApiRestorer& restorer, ULONG replyLength) {
    ObjectQueryCounter::Install(restorer);
    largeReply = replyLength;
    sysinfo::win32::NtApi.NtQueryObject = LargeReplyOnlyNameQuery;
}

void InstallBlockingFileNameQuery() {
    sysinfo::win32::NtApi.NtQueryInformationFile = NeverReturningFileQuery;
}

void InstallSlowFileNameQuery() {
    if (sysinfo::win32::NtApi.NtQueryInformationFile != SlowFileQuery)
        realFileQuery = sysinfo::win32::NtApi.NtQueryInformationFile;
    sysinfo::win32::NtApi.NtQueryInformationFile = SlowFileQuery;
}

namespace {

sysinfo::win32::ProbeThreadCalls savedThreadCalls;
int failCreationAfter = -1;
int endWhileStarting = 0;
int slowStarts = 0;
DWORD slowStartMs = 0;

struct ScriptedStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    bool endAtOnce;
    DWORD delayMs;
};

DWORD WINAPI RunScriptedStart(LPVOID parameter) {
    // The pool never ends a thread before its routine has begun a job, so this may allocate.
    const ScriptedStart start = *static_cast<ScriptedStart*>(parameter);
    delete static_cast<ScriptedStart*>(parameter);
    if (start.endAtOnce) return 0;
    if (start.delayMs) Sleep(start.delayMs);
    ++ScriptedThreads::routinesBegun;
    const DWORD result = start.routine(start.parameter);
    ++ScriptedThreads::ranToTheEnd;
    return result;
}

HANDLE WINAPI ScriptedCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                                   LPDWORD id) {
    const int made = ScriptedThreads::created.load();
    if (failCreationAfter >= 0 && made >= failCreationAfter) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* start = new ScriptedStart{routine, parameter, made < endWhileStarting,
                                    made < slowStarts ? slowStartMs : 0};
    HANDLE thread = CreateThread(attributes, stack, RunScriptedStart, start, flags, id);
    if (!thread) {
        delete start;
        return nullptr;
    }
    ++ScriptedThreads::created;
    return thread;
}

DWORD WINAPI NeverConfirmingWait(HANDLE thread, DWORD milliseconds) {
    const ThreadIdentity identity = Identify(thread);
    const int count = std::min(MarkedFileBlocker::hung.load(), MarkedFileBlocker::kMostNoted);
    if (std::find(hungIdentities, hungIdentities + count, identity) != hungIdentities + count) {
        Sleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    return WaitForSingleObject(thread, milliseconds);
}

HANDLE WINAPI FailingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

}  // namespace

std::atomic<int> ScriptedThreads::created{0};
std::atomic<int> ScriptedThreads::routinesBegun{0};
std::atomic<int> ScriptedThreads::ranToTheEnd{0};

ScriptedThreads::ScriptedThreads() {
    savedThreadCalls = sysinfo::win32::probeThreadCalls;
    failCreationAfter = -1;
    endWhileStarting = 0;
    slowStarts = 0;
    created = 0;
    routinesBegun = 0;
    ranToTheEnd = 0;
    sysinfo::win32::probeThreadCalls.createThread = ScriptedCreateThread;
}

ScriptedThreads::~ScriptedThreads() {
    sysinfo::win32::probeThreadCalls = savedThreadCalls;
}

void ScriptedThreads::FailCreationAfter(int creations) {
    failCreationAfter = creations;
}

void ScriptedThreads::EndWhileStarting(int count) {
    endWhileStarting = count;
}

void ScriptedThreads::StartSlowly(int count, DWORD delayMs) {
    slowStarts = count;
    slowStartMs = delayMs;
}

void ScriptedThreads::NeverConfirmHungThreads() {
    sysinfo::win32::probeThreadCalls.waitForThread = NeverConfirmingWait;
}

void ScriptedThreads::FailEventCreation() {
    sysinfo::win32::probeThreadCalls.createEvent = FailingCreateEvent;
}

StallWatch::StallWatch() : lastProgress(GetTickCount64()) {
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

StallWatch::~StallWatch() {
    done = true;
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void StallWatch::Progress(int roundNumber, std::size_t rowNumber) {
    round = roundNumber;
    row = rowNumber;
    lastProgress = GetTickCount64();
}

DWORD WINAPI StallWatch::Run(LPVOID parameter) {
    auto* watch = static_cast<StallWatch*>(parameter);
    while (!watch->done) {
        // The last progress first, then the time: read the other way round, a progress made in
        // between would lie after "now", and the difference would wrap round to a false stall.
        const ULONGLONG last = watch->lastProgress.load();
        const ULONGLONG now = GetTickCount64();
        if (now > last && now - last > 15000) {
            std::fprintf(stderr, "stalled: round %d, row %zu undecided for 15 s\n",
                         watch->round.load(), watch->row.load());
            std::fflush(stderr);
            ExitProcess(3);
        }
        Sleep(100);
    }
    return 0;
}

namespace {

// GoogleTest keeps per-thread state, and the first time a thread needs it, starts a watcher
// thread of its own that holds handles. Which assertion first needs it varies with timing, so
// it may come between two counts and look like a leak: have it start before any count.
void StartTheTestFrameworksThreads() {
    SCOPED_TRACE("counting our threads and handles");
}

}  // namespace

// Our rows in the system's handle table: GetProcessHandleCount answers 0 under Wine.
std::size_t OwnHandleCount() {
    StartTheTestFrameworksThreads();
    std::vector<sysinfo::win32::HandleEntry> rows;
    if (!sysinfo::win32::ReadSystemHandleTable(rows)) return 0;
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [](const sysinfo::win32::HandleEntry& row) {
            return row.ProcessId == GetCurrentProcessId();
        }));
}

std::size_t OwnThreadCount() {
    StartTheTestFrameworksThreads();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string DeviceFormOf(const std::string& path) {
    char device[512] = {};
    if (QueryDosDeviceA(path.substr(0, 2).c_str(), device, sizeof(device)) == 0) return "";
    return std::string(device) + path.substr(2);
}

bool NamesDiskPath(const std::string& handleName, const std::string& path) {
    if (SameIgnoringCase(handleName, "\\??\\" + path)) return true;
    const std::string device = DeviceFormOf(path);
    return !device.empty() && SameIgnoringCase(handleName, device);
}

}  // namespace vesperlin::testing

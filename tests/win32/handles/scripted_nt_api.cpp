#include "scripted_nt_api.h"

#include <tlhelp32.h>

#include "sysinfo/win32/handle_snapshot.h"

#include <algorithm>
#include <cctype>

namespace vesperlin::testing {

namespace {

win32::NtQueryObjectFn realQueryObject = nullptr;

NTSTATUS NTAPI CountingQueryObject(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                   PULONG returnLength) {
    if (infoClass == 1) ++ObjectQueryCounter::nameQueries;
    if (infoClass == 2) ++ObjectQueryCounter::typeQueries;
    return realQueryObject(handle, infoClass, buffer, length, returnLength);
}

// Object names only into replies of 16 KiB and more, as for a name too long for a small reply.
constexpr ULONG kLargeReply = 16 * 1024;

NTSTATUS NTAPI LargeReplyOnlyNameQuery(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                       PULONG returnLength) {
    if (infoClass == 1 && length < kLargeReply) {
        if (returnLength) *returnLength = kLargeReply;
        return static_cast<NTSTATUS>(0xC0000004L);  // STATUS_INFO_LENGTH_MISMATCH
    }
    return realQueryObject(handle, infoClass, buffer, length, returnLength);
}

NTSTATUS NTAPI NeverReturningFileQuery(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG) {
    Sleep(INFINITE);
    return 0;
}

win32::NtQueryInformationFileFn realFileQuery = nullptr;

NTSTATUS NTAPI SlowFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer, ULONG length,
                             ULONG infoClass) {
    Sleep(50);
    return realFileQuery(file, block, buffer, length, infoClass);
}

win32::NtQueryInformationFileFn realMarkedFileQuery = nullptr;

NTSTATUS NTAPI MarkedBlockingFileQuery(HANDLE file, PIO_STATUS_BLOCK block, PVOID buffer,
                                       ULONG length, ULONG infoClass) {
    const NTSTATUS status = realMarkedFileQuery(file, block, buffer, length, infoClass);
    if (status != 0 || length < sizeof(FILE_NAME_INFORMATION)) return status;
    const auto* info = static_cast<const FILE_NAME_INFORMATION*>(buffer);
    const std::wstring name(
        info->FileName,
        std::min<ULONG>(info->FileNameLength, length - sizeof(ULONG)) / sizeof(WCHAR));
    // Only this test process's own files: tests running beside it hold "blocked-" files too,
    // and the handle snapshot sees every process's handles.
    if (name.find(L"\\blocked-") == std::wstring::npos ||
        name.find(MarkedFileBlocker::ownFolderMarker) == std::wstring::npos)
        return status;
    const int slot = MarkedFileBlocker::hung++;
    if (slot < MarkedFileBlocker::kMostNoted) MarkedFileBlocker::hungAt[slot] = GetTickCount64();
    // Never returns: the probe's time limit ends this thread.
    Sleep(INFINITE);
    return status;
}

}  // namespace

std::atomic<int> MarkedFileBlocker::hung{0};
std::wstring MarkedFileBlocker::ownFolderMarker;
ULONGLONG MarkedFileBlocker::hungAt[MarkedFileBlocker::kMostNoted];

void MarkedFileBlocker::Install(const NtApiRestorer& restorer) {
    realMarkedFileQuery = restorer.Real().NtQueryInformationFile;
    hung = 0;
    // TempFolder names its folders after the test process.
    ownFolderMarker = L"vesperlin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    win32::NtApi.NtQueryInformationFile = MarkedBlockingFileQuery;
}

ULONGLONG MarkedFileBlocker::HangSpread() {
    const int count = std::min(hung.load(), kMostNoted);
    if (count == 0) return 0;
    const auto [first, last] = std::minmax_element(hungAt, hungAt + count);
    return *last - *first;
}

std::atomic<int> ObjectQueryCounter::nameQueries{0};
std::atomic<int> ObjectQueryCounter::typeQueries{0};

void ObjectQueryCounter::Install(const NtApiRestorer& restorer) {
    realQueryObject = restorer.Real().NtQueryObject;
    nameQueries = 0;
    typeQueries = 0;
    win32::NtApi.NtQueryObject = CountingQueryObject;
}

void InstallLargeReplyOnlyNameQuery(const NtApiRestorer& restorer) {
    realQueryObject = restorer.Real().NtQueryObject;
    win32::NtApi.NtQueryObject = LargeReplyOnlyNameQuery;
}

void InstallBlockingFileNameQuery() {
    win32::NtApi.NtQueryInformationFile = NeverReturningFileQuery;
}

void InstallSlowFileNameQuery() {
    if (win32::NtApi.NtQueryInformationFile != SlowFileQuery)
        realFileQuery = win32::NtApi.NtQueryInformationFile;
    win32::NtApi.NtQueryInformationFile = SlowFileQuery;
}

// Our rows in the system's handle table: GetProcessHandleCount answers 0 under Wine.
std::size_t OwnHandleCount() {
    std::vector<win32::HandleEntry> rows;
    if (!win32::ReadSystemHandleTable(rows)) return 0;
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(),
        [](const win32::HandleEntry& row) { return row.ProcessId == GetCurrentProcessId(); }));
}

std::size_t OwnThreadCount() {
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

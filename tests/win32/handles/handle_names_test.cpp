#include "sysinfo/win32/handle_names.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/object_types.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::testing::HolderProcess;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::ObjectQueryCounter;
using vesperlin::testing::OwnHandleCount;
using vesperlin::testing::TempFolder;

namespace {

// Every resolvable name of the handles of `owner` with the given type.
std::vector<std::string> NamesOfType(DWORD owner, const char* type) {
    std::vector<std::string> names;
    HandleSnapshot snapshot(owner, true, type);
    for (const HandleEntry& entry : snapshot.Entries()) {
        std::string name;
        if (ResolveHandleName(entry.HandleValue, name, entry.ProcessId)) names.push_back(name);
    }
    return names;
}

std::string Hex(const char* prefix, DWORD value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%s%X", prefix, static_cast<unsigned>(value));
    return text;
}

std::set<DWORD> ThreadsOf(DWORD processId) {
    std::set<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == processId) threads.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return threads;
}

// An NtQueryObject whose type reply points its name outside the reply buffer.
NTSTATUS NTAPI StrayTypeNameReply(HANDLE, ULONG, PVOID buffer, ULONG length, PULONG) {
    static const wchar_t elsewhere[] = L"File";
    if (length < sizeof(UNICODE_STRING)) return static_cast<NTSTATUS>(0xC0000004L);
    UNICODE_STRING text;
    text.Length = 8;
    text.MaximumLength = 10;
    text.Buffer = const_cast<wchar_t*>(elsewhere);
    std::memcpy(buffer, &text, sizeof(text));
    return 0;
}

NtQueryObjectFn realQueryObject = nullptr;

// Answers a name query with "name" followed, without a NUL, by more text and a maximum length
// that reaches far past the reply; type queries go to the real entry.
NTSTATUS NTAPI UnterminatedNameReply(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                     PULONG needed) {
    if (infoClass != 1) return realQueryObject(handle, infoClass, buffer, length, needed);
    static const wchar_t text[] = L"nameGARBAGE";
    auto* bytes = static_cast<unsigned char*>(buffer);
    UNICODE_STRING record;
    record.Length = 4 * sizeof(wchar_t);
    record.MaximumLength = 0xFFFE;
    record.Buffer = reinterpret_cast<wchar_t*>(bytes + sizeof(UNICODE_STRING));
    std::memcpy(bytes, &record, sizeof(record));
    std::memcpy(bytes + sizeof(record), text, sizeof(text) - sizeof(wchar_t));  // no NUL
    return 0;
}
int shortAnswers = 0;

// Answers a length mismatch without a usable length to the first call of every query.
NTSTATUS NTAPI GrudgingQueryObject(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length,
                                   PULONG needed) {
    if (length <= 8192) {
        ++shortAnswers;
        if (needed) *needed = 0;
        return static_cast<NTSTATUS>(0xC0000004L);
    }
    return realQueryObject(handle, infoClass, buffer, length, needed);
}

}  // namespace

TEST(ObjectTypeNames, NumbersTheKnownTypesExactlyAndAnEmptyNameAsOne) {
    EXPECT_EQ(ObjectTypeCount, 27u);
    ObjectTypeNumber number = 99;
    EXPECT_TRUE(LookupObjectTypeNumber("File", number));
    EXPECT_EQ(number, FileTypeNumber);
    EXPECT_TRUE(LookupObjectTypeNumber("Process", number));
    EXPECT_EQ(number, ProcessTypeNumber);
    EXPECT_TRUE(LookupObjectTypeNumber("Thread", number));
    EXPECT_EQ(number, ThreadTypeNumber);
    EXPECT_TRUE(LookupObjectTypeNumber("Key", number));
    EXPECT_EQ(number, 18);
    EXPECT_TRUE(LookupObjectTypeNumber("", number));
    EXPECT_EQ(number, 1);
    EXPECT_FALSE(LookupObjectTypeNumber("file", number));
    EXPECT_EQ(number, 0);
    EXPECT_FALSE(LookupObjectTypeNumber("ALPC Port", number));
    EXPECT_EQ(number, 0);
}

TEST(ResolveHandleName, NamesFilesAndFoldersOfAnotherProcess) {
    TempFolder folder;
    const std::string file = folder.MakeFile("named.txt");
    const std::string sub = folder.MakeSubfolder("named-folder");
    HolderProcess holder({"--file", file, "--folder", sub});
    ASSERT_TRUE(holder.Started());
    bool sawFile = false, sawFolder = false;
    for (const std::string& name : NamesOfType(holder.Id(), "File")) {
        sawFile |= NamesDiskPath(name, file);
        sawFolder |= NamesDiskPath(name, sub);
    }
    EXPECT_TRUE(sawFile);
    EXPECT_TRUE(sawFolder);
}

TEST(ResolveHandleName, NamesProcessAndThreadHandlesByTheirIdentifiers) {
    HolderProcess holder({"--self-handles"});
    ASSERT_TRUE(holder.Started());
    const std::vector<std::string> processes = NamesOfType(holder.Id(), "Process");
    EXPECT_NE(std::find(processes.begin(), processes.end(), Hex("PID: 0x", holder.Id())),
              processes.end());
    bool sawHolderThread = false;
    const std::set<DWORD> threads = ThreadsOf(holder.Id());
    for (const std::string& name : NamesOfType(holder.Id(), "Thread"))
        for (DWORD thread : threads) sawHolderThread |= name == Hex("TID: 0x", thread);
    EXPECT_TRUE(sawHolderThread);
}

TEST(ResolveHandleName, NamesAPipeWithABlockedReaderAsAPipeNotAsADiskPath) {
    HolderProcess holder({"--blocked-pipe", "vesperlin-names-pipe"});
    ASSERT_TRUE(holder.Started());
    bool sawPipe = false;
    for (const std::string& name : NamesOfType(holder.Id(), "File")) {
        sawPipe |=
            vesperlin::testing::SameIgnoringCase(name, "\\Device\\NamedPipe\\vesperlin-names-pipe");
        EXPECT_FALSE(NamesDiskPath(name, "C:\\vesperlin-names-pipe"));
    }
    EXPECT_TRUE(sawPipe);
}

TEST(ResolveHandleName, ExaminesAHandleOfOurOwnProcessInPlace) {
    TempFolder folder;
    const std::string file = folder.MakeFile("own.txt");
    HANDLE own = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    const HandlePassCounters before = handlePassCounters;
    std::string name;
    EXPECT_TRUE(ResolveHandleName(own, name, GetCurrentProcessId()));
    EXPECT_TRUE(NamesDiskPath(name, file)) << name;
    EXPECT_EQ(handlePassCounters.processesOpened, before.processesOpened);
    EXPECT_EQ(handlePassCounters.handlesCopied, before.handlesCopied);
    // Used in place, so still ours and still open.
    EXPECT_NE(GetFileType(own), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    CloseHandle(own);
}

TEST(ResolveHandleName, FailsForAnOwnerThatCannotBeOpenedAndClosesNothing) {
    const DWORD gone = 0x7FFFFFF0;  // no process has this identifier
    const HandlePassCounters before = handlePassCounters;
    HANDLE mine = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const std::size_t handles = OwnHandleCount();
    ASSERT_GT(handles, 0u);  // the counter itself works
    std::string name = "unchanged";
    std::string type = "unchanged";
    EXPECT_FALSE(ResolveHandleName(mine, name, gone));
    EXPECT_FALSE(QueryObjectTypeName(mine, type, gone));
    EXPECT_FALSE(QueryHandleName(mine, FileTypeNumber, name, gone));
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(type, "unchanged");
    EXPECT_EQ(OwnHandleCount(), handles);
    EXPECT_EQ(handlePassCounters.processesOpened, before.processesOpened + 3);
    EXPECT_EQ(handlePassCounters.handlesCopied, before.handlesCopied);
    EXPECT_EQ(WaitForSingleObject(mine, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still open
    CloseHandle(mine);
}

TEST(ResolveHandleName, ClosesTheCopiesItMakesOfAnotherProcesssHandles) {
    TempFolder folder;
    HolderProcess holder({"--file", folder.MakeFile("copies.txt"), "--self-handles", "--key"});
    ASSERT_TRUE(holder.Started());
    HandleSnapshot snapshot(holder.Id(), true);
    const std::size_t handles = OwnHandleCount();
    ASSERT_GT(handles, 0u);  // the counter itself works
    for (int round = 0; round < 3; ++round)
        for (const HandleEntry& entry : snapshot.Entries()) {
            std::string name;
            ResolveHandleName(entry.HandleValue, name, entry.ProcessId);
        }
    EXPECT_EQ(OwnHandleCount(), handles);
}

TEST(ResolveHandleName, RejectsATypeNameThatLiesOutsideTheReply) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        NtApiRestorer restorer;
        NtApi.NtQueryObject = StrayTypeNameReply;
        std::string name = "unchanged";
        EXPECT_FALSE(ResolveHandleName(event, name, GetCurrentProcessId()));
        EXPECT_EQ(name, "unchanged");
    }
    CloseHandle(event);
}

TEST(ResolveHandleName, GrowsTheReplyWhenThePlatformReportsNoLength) {
    TempFolder folder;
    const std::string file = folder.MakeFile("grudging.txt");
    HANDLE own = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    const std::string eventName = "vesperlin-grudging-" + std::to_string(GetCurrentProcessId());
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(event, nullptr);
    {
        NtApiRestorer restorer;
        realQueryObject = restorer.Real().NtQueryObject;
        shortAnswers = 0;
        NtApi.NtQueryObject = GrudgingQueryObject;
        std::string name;
        EXPECT_TRUE(ResolveHandleName(event, name, GetCurrentProcessId()));
        EXPECT_EQ(shortAnswers, 2);  // once for the type, once for the name
        ASSERT_GE(name.size(), eventName.size());
        EXPECT_EQ(name.substr(name.size() - eventName.size()), eventName);
        // A file's name is asked on a worker whose reply holds any name there can be.
        shortAnswers = 0;
        EXPECT_TRUE(ResolveHandleName(own, name, GetCurrentProcessId()));
        EXPECT_TRUE(NamesDiskPath(name, file)) << name;
        EXPECT_EQ(shortAnswers, 1);
    }
    CloseHandle(event);
    CloseHandle(own);
}

TEST(ResolveHandleName, AsksNoNameForATypeOutsideTheTable) {
    // Every handle of ours whose type is not in the table fails without a name query.
    NtApiRestorer restorer;
    HandleSnapshot own(GetCurrentProcessId(), true);
    int unknownTypes = 0;
    for (const HandleEntry& entry : own.Entries()) {
        std::string type;
        ObjectTypeNumber number = 0;
        if (!QueryObjectTypeName(entry.HandleValue, type, entry.ProcessId) ||
            LookupObjectTypeNumber(type, number))
            continue;
        ++unknownTypes;
        ObjectQueryCounter::Install(restorer);
        std::string name = "unchanged";
        EXPECT_FALSE(ResolveHandleName(entry.HandleValue, name, entry.ProcessId)) << type;
        EXPECT_EQ(ObjectQueryCounter::nameQueries.load(), 0) << type;
        EXPECT_EQ(name, "unchanged");
        NtApi.NtQueryObject = restorer.Real().NtQueryObject;
    }
    if (unknownTypes == 0) GTEST_SKIP() << "no handle of an unlisted type in this process";
}

TEST(ResolveHandleName, ReadsANameNoFurtherThanItsCountedLength) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        NtApiRestorer restorer;
        realQueryObject = restorer.Real().NtQueryObject;
        NtApi.NtQueryObject = UnterminatedNameReply;
        std::string name;
        EXPECT_TRUE(ResolveHandleName(event, name, GetCurrentProcessId()));
        EXPECT_EQ(name, "name");
    }
    CloseHandle(event);
}

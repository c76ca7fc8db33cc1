#include "sysinfo/win32/module_snapshot.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/holder_process.h"
#include "sysinfo/win32/nt_api.h"
#include "base/win32/unique_handle.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::ExecutableFolder;
using testing::HolderProcess;
using testing::MessageLog;
using testing::NtApiGuard;
using testing::SameNameIgnoringCase;
using testing::TempFolder;

std::string OwnExecutablePath() {
    std::string path(32768, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::vector<std::string> ModulesOf(const ModuleSnapshot& snapshot, DWORD processId) {
    std::vector<std::string> paths;
    for (const ModuleEntry& entry : snapshot.Entries())
        if (entry.ProcessId == processId) paths.push_back(entry.Path);
    return paths;
}

bool HasModule(const std::vector<std::string>& paths, const std::string& path) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& p) { return SameNameIgnoringCase(p, path); });
}

TEST(ModuleSnapshot, ListsOurExecutableAndALibraryWeLoaded) {
    const std::string library = ExecutableFolder() + "holder_lib.dll";
    base::UniqueModule loaded(LoadLibraryA(library.c_str()));
    ASSERT_TRUE(loaded);
    MessageLog messages;
    ModuleSnapshot snapshot(messages, AllProcesses);
    ASSERT_TRUE(snapshot.Refresh());
    EXPECT_TRUE(messages.shown.empty());
    const std::vector<std::string> own = ModulesOf(snapshot, GetCurrentProcessId());
    ASSERT_FALSE(own.empty());
    EXPECT_TRUE(SameNameIgnoringCase(own.front(), OwnExecutablePath())) << own.front();
    EXPECT_TRUE(HasModule(own, library));
    const auto entry = std::find_if(
        snapshot.Entries().begin(), snapshot.Entries().end(), [&](const ModuleEntry& e) {
            return e.ProcessId == GetCurrentProcessId() && SameNameIgnoringCase(e.Path, library);
        });
    ASSERT_NE(entry, snapshot.Entries().end());
    EXPECT_EQ(entry->Module, loaded.get());
}

TEST(ModuleSnapshot, ListsTheModulesOfAnotherProcess) {
    const std::string library = ExecutableFolder() + "holder_lib.dll";
    HolderProcess holder({"--library", library});
    ASSERT_TRUE(holder.Started());
    MessageLog messages;
    ModuleSnapshot snapshot(messages, AllProcesses, true);
    const std::vector<std::string> modules = ModulesOf(snapshot, holder.Id());
    ASSERT_FALSE(modules.empty());
    EXPECT_TRUE(SameNameIgnoringCase(modules.front(), ExecutableFolder() + "vesperlin-holder.exe"))
        << modules.front();
    EXPECT_TRUE(HasModule(modules, library));
    // Every process that could be opened contributes modules; ours and the holder's at least.
    EXPECT_FALSE(ModulesOf(snapshot, GetCurrentProcessId()).empty());
}

TEST(ModuleSnapshot, ListsOneProcessAloneWhenFiltered) {
    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    MessageLog messages;
    ModuleSnapshot snapshot(messages, static_cast<LONG>(holder.Id()), true);
    ASSERT_FALSE(snapshot.Entries().empty());
    for (const ModuleEntry& entry : snapshot.Entries()) EXPECT_EQ(entry.ProcessId, holder.Id());
}

TEST(ModuleSnapshot, KeepsModulePathsLongerThanTheOldPathLimit) {
    TempFolder folder;
    testing::DeepFolder deep(folder.Path(), 300);
    ASSERT_TRUE(deep.Made());
    const std::string library = deep.Path() + "\\holder_lib.dll";
    ASSERT_TRUE(CopyFileW(testing::Wide(ExecutableFolder() + "holder_lib.dll").c_str(),
                          testing::Wide(library).c_str(), TRUE));
    {
        base::UniqueModule loaded(LoadLibraryW(testing::Wide(library).c_str()));
        ASSERT_TRUE(loaded) << GetLastError();
        MessageLog messages;
        ModuleSnapshot snapshot(messages, static_cast<LONG>(GetCurrentProcessId()), true);
        EXPECT_TRUE(HasModule(ModulesOf(snapshot, GetCurrentProcessId()), library));
    }
    DeleteFileW(testing::Wide(library).c_str());
}

// Process lists that answer with an error: the module walk has no processes to visit.
NTSTATUS NTAPI DeniedProcessList(ULONG, PVOID, ULONG, PULONG) {
    return static_cast<NTSTATUS>(0xC0000022);
}

TEST(ModuleSnapshot, ReportsAnEmptyProcessListAfterTheProcessSnapshotsOwnMessage) {
    NtApiGuard guard;
    NtApi.NtQuerySystemInformation = DeniedProcessList;
    MessageLog messages;
    ModuleSnapshot snapshot(messages, AllProcesses);
    EXPECT_FALSE(snapshot.Refresh());
    EXPECT_EQ(messages.shown,
              (std::vector<std::string>{"Couldn't query system information.",
                                        "Can't get process information start position."}));
    EXPECT_TRUE(snapshot.Entries().empty());
}

TEST(ModuleSnapshot, EmptiesItsListWhenARefreshFails) {
    MessageLog messages;
    ModuleSnapshot snapshot(messages, AllProcesses, true);
    ASSERT_FALSE(snapshot.Entries().empty());
    NtApiGuard guard;
    ntApiBound = false;
    EXPECT_FALSE(snapshot.Refresh());
    EXPECT_EQ(messages.shown,
              (std::vector<std::string>{"Cant' load NT Dlls.",
                                        "Can't get process information start position."}));
    EXPECT_TRUE(snapshot.Entries().empty());
}

// Stand-ins for the status library's entries, recording how the walk called them.
DWORD exFilter = 0;
int exCalls = 0, plainCalls = 0;

BOOL WINAPI FakeEnumEx(HANDLE, HMODULE*, DWORD, LPDWORD needed, DWORD filter) {
    ++exCalls;
    exFilter = filter;
    *needed = 0;
    return TRUE;
}
BOOL WINAPI FakeEnum(HANDLE, HMODULE*, DWORD, LPDWORD needed) {
    ++plainCalls;
    *needed = 0;
    return TRUE;
}
DWORD WINAPI FakeFileName(HANDLE, HMODULE, LPWSTR, DWORD) {
    return 0;
}

FARPROC Entry(auto function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// A library that exports the given names.
EntryLookup Library(std::vector<std::pair<std::string, FARPROC>> exports,
                    std::vector<std::string>* asked = nullptr) {
    return [exports, asked](const char* name) -> FARPROC {
        if (asked) asked->push_back(name);
        for (const auto& [exported, entry] : exports)
            if (exported == name) return entry;
        return nullptr;
    };
}

TEST(ModuleWalkApi, ListsEveryModuleOfA32BitProcessThroughTheExForm) {
    exCalls = plainCalls = 0;
    const ModuleWalkApi api =
        BindModuleWalkApi(Library({{"EnumProcessModulesEx", Entry(FakeEnumEx)},
                                   {"EnumProcessModules", Entry(FakeEnum)},
                                   {"GetModuleFileNameExW", Entry(FakeFileName)}}));
    ASSERT_TRUE(api.Complete());
    DWORD needed = 1;
    EXPECT_TRUE(api.EnumModules(GetCurrentProcess(), nullptr, 0, &needed));
    EXPECT_EQ(exCalls, 1);
    EXPECT_EQ(exFilter, static_cast<DWORD>(LIST_MODULES_ALL));
    EXPECT_EQ(plainCalls, 0);
}

TEST(ModuleWalkApi, FallsBackToThePlainCallWhereTheExFormIsMissing) {
    exCalls = plainCalls = 0;
    const ModuleWalkApi api = BindModuleWalkApi(Library(
        {{"EnumProcessModules", Entry(FakeEnum)}, {"GetModuleFileNameExW", Entry(FakeFileName)}}));
    ASSERT_TRUE(api.Complete());
    DWORD needed = 1;
    EXPECT_TRUE(api.EnumModules(GetCurrentProcess(), nullptr, 0, &needed));
    EXPECT_EQ(plainCalls, 1);
    EXPECT_EQ(exCalls, 0);
}

TEST(ModuleWalkApi, IsIncompleteWithoutTheWideNameOrAnyWayToList) {
    EXPECT_FALSE(BindModuleWalkApi(Library({{"EnumProcessModulesEx", Entry(FakeEnumEx)},
                                            {"GetModuleFileNameExA", Entry(FakeFileName)}}))
                     .Complete());
    const ModuleWalkApi none =
        BindModuleWalkApi(Library({{"GetModuleFileNameExW", Entry(FakeFileName)}}));
    EXPECT_FALSE(none.Complete());
    DWORD needed = 0;
    EXPECT_FALSE(none.EnumModules(GetCurrentProcess(), nullptr, 0, &needed));
}

TEST(ModuleWalkApi, AsksKernel32sCopiesByTheirPrefixedNames) {
    std::vector<std::string> asked;
    const ModuleWalkApi api =
        BindModuleWalkApi(Library({{"K32EnumProcessModulesEx", Entry(FakeEnumEx)},
                                   {"K32GetModuleFileNameExW", Entry(FakeFileName)}},
                                  &asked),
                          "K32");
    EXPECT_TRUE(api.Complete());
    EXPECT_EQ(asked,
              (std::vector<std::string>{"K32EnumProcessModulesEx", "K32GetModuleFileNameExW"}));
}

TEST(ModuleSnapshot, NamesTheModulesOfAnotherProcessInNonLatinFolders) {
    TempFolder folder;
    // A folder named in Cyrillic and Chinese.
    const std::string inner = folder.Path() + "\\\xd0\xbc\xd0\xbe\xd0\xb4\xe4\xb8\xad";
    ASSERT_TRUE(CreateDirectoryW(testing::Wide(inner).c_str(), nullptr));
    const std::string library = inner + "\\holder_lib.dll";
    ASSERT_TRUE(CopyFileW(testing::Wide(ExecutableFolder() + "holder_lib.dll").c_str(),
                          testing::Wide(library).c_str(), TRUE));
    {
        HolderProcess holder({"--library", library});
        ASSERT_TRUE(holder.Started());
        MessageLog messages;
        ModuleSnapshot snapshot(messages, static_cast<LONG>(holder.Id()), true);
        EXPECT_TRUE(HasModule(ModulesOf(snapshot, holder.Id()), library));
    }
    DeleteFileW(testing::Wide(library).c_str());
    RemoveDirectoryW(testing::Wide(inner).c_str());
}

TEST(ModuleSnapshot, ReleasesTheStatusLibraryAfterEachRefresh) {
    if (GetModuleHandleA("PSAPI.DLL")) GTEST_SKIP() << "something else keeps PSAPI.DLL loaded";
    MessageLog messages;
    ModuleSnapshot snapshot(messages, static_cast<LONG>(GetCurrentProcessId()), true);
    EXPECT_FALSE(snapshot.Entries().empty());
    EXPECT_EQ(GetModuleHandleA("PSAPI.DLL"), nullptr);
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32

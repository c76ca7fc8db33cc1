#include "sysinfo/win32/module_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/holder_process.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/unique_handle.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::win32 {
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
    UniqueModule loaded(LoadLibraryA(library.c_str()));
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
        UniqueModule loaded(LoadLibraryW(testing::Wide(library).c_str()));
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

TEST(ModuleSnapshot, ReleasesTheStatusLibraryAfterEachRefresh) {
    if (GetModuleHandleA("PSAPI.DLL")) GTEST_SKIP() << "something else keeps PSAPI.DLL loaded";
    MessageLog messages;
    ModuleSnapshot snapshot(messages, static_cast<LONG>(GetCurrentProcessId()), true);
    EXPECT_FALSE(snapshot.Entries().empty());
    EXPECT_EQ(GetModuleHandleA("PSAPI.DLL"), nullptr);
}

}  // namespace
}  // namespace vesperlin::win32

#include "sysinfo/win32/win32_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "query/result_line.h"
#include "query/usage_query.h"
#include "support/holder_process.h"
#include "sysinfo/platform_system.h"
#include "sysinfo/win32/dos_devices.h"
#include "sysinfo/win32/file_handles.h"
#include "sysinfo/win32/module_snapshot.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::ExecutableFolder;
using testing::HolderProcess;
using testing::MessageLog;
using testing::SameNameIgnoringCase;
using testing::TempFolder;

class Win32SystemTest : public ::testing::Test {
  protected:
    MessageLog messages;
    std::unique_ptr<System> system = CreatePlatformSystem(messages);
};

TEST(QueryDosDeviceTarget, NamesTheVolumeBehindADriveLetter) {
    std::string target;
    ASSERT_TRUE(QueryDosDeviceTarget("C:", target));
    EXPECT_EQ(target, "\\Device\\HarddiskVolume1");
    std::string lower;
    ASSERT_TRUE(QueryDosDeviceTarget("c:", lower));
    EXPECT_EQ(lower, target);
    std::string untouched = "kept";
    EXPECT_FALSE(QueryDosDeviceTarget("", untouched));
    EXPECT_EQ(untouched, "kept");
}

TEST_F(Win32SystemTest, TranslatesDrivePathsToTheirDeviceForm) {
    std::string device;
    ASSERT_TRUE(system->GetDeviceFileName("C:", device));
    EXPECT_EQ(device, "\\Device\\HarddiskVolume1");
    ASSERT_TRUE(system->GetDeviceFileName("C:\\windows\\notepad.exe", device));
    EXPECT_EQ(device, "\\Device\\HarddiskVolume1\\windows\\notepad.exe");
    ASSERT_TRUE(system->GetDeviceFileName("\\\\.\\PIPE\\vesperlin", device));
    EXPECT_EQ(device, "\\Device\\NamedPipe\\vesperlin");
    ASSERT_TRUE(system->GetDeviceFileName("\\\\server\\share\\f.txt", device));
    EXPECT_EQ(device, "\\Device\\Mup\\server\\share\\f.txt");
}

TEST_F(Win32SystemTest, FailsToTranslateADriveWithoutTargetAndKeepsTheOutput) {
    // Find a letter Wine has not mapped.
    std::string drive;
    for (char letter = 'Q'; letter <= 'Y' && drive.empty(); ++letter) {
        std::string target;
        const std::string candidate = std::string(1, letter) + ":";
        if (!QueryDosDeviceTarget(candidate, target)) drive = candidate;
    }
    ASSERT_FALSE(drive.empty());
    std::string device = "kept";
    EXPECT_FALSE(system->GetDeviceFileName(drive + "\\a.txt", device));
    EXPECT_FALSE(system->GetDeviceFileName("relative.txt", device));
    EXPECT_EQ(device, "kept");
}

TEST_F(Win32SystemTest, ComputesFullPathsOfAnyLength) {
    std::string full;
    ASSERT_TRUE(system->GetFullPath("C:\\a\\..\\b\\.\\c.txt", full));
    EXPECT_EQ(full, "C:\\b\\c.txt");

    std::string longPath = "C:";
    while (longPath.size() < 700) longPath += "\\folder-with-a-fairly-long-name";
    longPath += "\\file.txt";
    ASSERT_TRUE(system->GetFullPath(longPath + "\\..\\file.txt", full));
    EXPECT_EQ(full, longPath.substr(0, longPath.rfind('\\')) + "\\file.txt");
    EXPECT_GT(full.size(), 700u);

    // A relative path is completed from the current folder.
    char current[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof(current), current);
    ASSERT_TRUE(system->GetFullPath("x.txt", full));
    EXPECT_EQ(full, system->JoinPath(current, "x.txt"));
}

TEST_F(Win32SystemTest, ComparesModulePathsIgnoringCaseInEveryScript) {
    EXPECT_TRUE(system->ModuleMatches("C:\\Windows\\system32\\kernel32.dll",
                                      "C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL"));
    // Łódź / ŁÓDŹ and фото / ФОТО
    EXPECT_TRUE(system->ModuleMatches("C:\\\xc5\x81\xc3\xb3\x64\xc5\xba\\\xd1\x84\xd0\xbe.dll",
                                      "c:\\\xc5\x82\xc3\x93\x44\xc5\xb9\\\xd0\xa4\xd0\x9e.DLL"));
    EXPECT_FALSE(system->ModuleMatches("C:\\a\\b.dll", "C:\\a\\c.dll"));
    EXPECT_FALSE(system->ModuleMatches("C:\\a\\b.dll", "C:\\a\\b.dll.bak"));
    // Letters that only look alike are different files.
    EXPECT_FALSE(system->ModuleMatches("C:\\\xc5\x81.dll", "C:\\L.dll"));
}

TEST_F(Win32SystemTest, MatchesHandleNamesInDeviceAndNamespaceForm) {
    const std::string full = "C:\\Data\\Report.txt";
    const std::string device = "\\Device\\HarddiskVolume1\\Data\\Report.txt";
    EXPECT_TRUE(system->HandleMatches("\\Device\\HarddiskVolume1\\data\\report.TXT", device, full));
    EXPECT_TRUE(system->HandleMatches("\\??\\c:\\DATA\\report.txt", device, full));
    EXPECT_TRUE(system->HandleMatches("\\??\\UNC\\srv\\pub\\a.txt",
                                      "\\Device\\Mup\\srv\\pub\\a.txt", "\\\\srv\\pub\\a.txt"));
    EXPECT_FALSE(system->HandleMatches("\\??\\C:\\Data\\Report.txt.old", device, full));
    EXPECT_FALSE(system->HandleMatches("C:\\Data\\Report.txt", device, full));
    EXPECT_FALSE(system->HandleMatches("", device, full));
    EXPECT_FALSE(system->HandleMatches("\\??\\", "", ""));
}

TEST_F(Win32SystemTest, ClassifiesFilesFoldersAndWhatCannotBeRead) {
    TempFolder folder;
    const std::string file = folder.MakeFile("a.txt");
    EXPECT_EQ(system->Classify(file), PathKind::File);
    EXPECT_EQ(system->Classify(folder.Path()), PathKind::Folder);
    EXPECT_EQ(system->Classify(folder.Path() + "\\missing.txt"), PathKind::Unreadable);
}

TEST_F(Win32SystemTest, ListsAFoldersEntriesWithNonLatinNames) {
    TempFolder folder;
    const std::string chinese = "\xe4\xb8\xad\xe6\x96\x87.txt";
    folder.MakeFile("a.txt");
    folder.MakeFile(chinese);
    folder.MakeSubfolder("sub");
    std::vector<std::string> names;
    ASSERT_TRUE(system->ListFolder(folder.Path(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt", "sub", chinese}));
    EXPECT_EQ(system->Classify(system->JoinPath(folder.Path(), chinese)), PathKind::File);

    names = {"stale"};
    EXPECT_FALSE(system->ListFolder(folder.Path() + "\\missing", names));
    EXPECT_TRUE(names.empty());
}

TEST_F(Win32SystemTest, ClassifiesAndListsFoldersBeyondTheOldPathLimit) {
    TempFolder folder;
    testing::DeepFolder deep(folder.Path(), 400);
    ASSERT_TRUE(deep.Made());
    const std::string inner = deep.Path() + "\\inner";
    ASSERT_TRUE(CreateDirectoryW(testing::Wide(inner).c_str(), nullptr));
    EXPECT_EQ(system->Classify(deep.Path()), PathKind::Folder);
    std::vector<std::string> names;
    ASSERT_TRUE(system->ListFolder(deep.Path(), names));
    EXPECT_NE(std::find(names.begin(), names.end(), "inner"), names.end());
    std::string full;
    ASSERT_TRUE(system->GetFullPath(inner + "\\..\\inner", full));
    EXPECT_EQ(full, inner);
    RemoveDirectoryW(testing::Wide(inner).c_str());
}

TEST_F(Win32SystemTest, ListsADriveRootWithoutDoublingItsSeparator) {
    std::vector<std::string> names;
    ASSERT_TRUE(system->ListFolder("C:\\", names));
    EXPECT_NE(std::find(names.begin(), names.end(), "windows"), names.end());
    EXPECT_EQ(system->JoinPath("C:\\", "windows"), "C:\\windows");
    EXPECT_EQ(system->JoinPath("C:\\data", "a.txt"), "C:\\data\\a.txt");
}

TEST_F(Win32SystemTest, TakesTheFileNamePartAfterTheLastBackslash) {
    EXPECT_EQ(system->FileNamePart("C:\\data\\report.txt"), "report.txt");
    EXPECT_EQ(system->FileNamePart("report.txt"), "report.txt");
    // A trailing separator names the folder before it; a drive's root is its own name.
    EXPECT_EQ(system->FileNamePart("C:\\data\\"), "data");
    EXPECT_EQ(system->FileNamePart("C:\\data\\."), "data");
    EXPECT_EQ(system->FileNamePart("C:\\"), "C:\\");
}

TEST_F(Win32SystemTest, NamesProcessesByTheirImageNames) {
    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    auto names = system->TakeProcessSnapshot();
    std::string name;
    ASSERT_TRUE(names->Lookup(GetCurrentProcessId(), name));
    EXPECT_TRUE(SameNameIgnoringCase(name, testing::OwnImageName())) << name;
    ASSERT_TRUE(names->Lookup(holder.Id(), name));
    EXPECT_TRUE(SameNameIgnoringCase(name, "vesperlin-holder.exe")) << name;
    EXPECT_FALSE(names->Lookup(0xFFFFFFF0, name));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Win32SystemTest, FindsALibraryAHelperHasLoadedInTheModuleSnapshot) {
    const std::string library = ExecutableFolder() + "holder_lib.dll";
    HolderProcess holder({"--library", library});
    ASSERT_TRUE(holder.Started());
    std::string full;
    ASSERT_TRUE(system->GetFullPath(library, full));
    std::vector<ModuleRecord> modules;
    ASSERT_TRUE(system->TakeModuleSnapshot(modules));
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [&](const ModuleRecord& m) {
        return m.processId == holder.Id() && system->ModuleMatches(m.path, full);
    }));
}

TEST_F(Win32SystemTest, FindsAFileAHelperHoldsOpenAmongTheFileHandles) {
    TempFolder folder;
    const std::string file = folder.MakeFile("held.txt");
    HolderProcess holder({"--file", file});
    ASSERT_TRUE(holder.Started());
    std::string full, device;
    ASSERT_TRUE(system->GetFullPath(file, full));
    ASSERT_TRUE(system->GetDeviceFileName(file, device));
    auto handles = system->TakeFileHandleSnapshot();
    bool found = false;
    handles->VisitNames([&](ProcessId owner, bool named, const std::string& name) {
        if (owner == holder.Id() && named && system->HandleMatches(name, device, full))
            found = true;
        return !found;
    });
    EXPECT_TRUE(found);
}

// Helpers that let nobody in, or let others read their memory but not copy their handles: each
// pass that could not open one counts it, and the system counts each process once.
TEST(Win32SystemInaccessible, CountsEveryProcessAPassMayNotOpenOnce) {
    TempFolder folder;
    const std::string file = folder.MakeFile("guarded.txt");
    HolderProcess closed({"--file", file, "--map", file, "--deny-all"});
    HolderProcess handlesOnly({"--file", file, "--deny-handles"});
    ASSERT_TRUE(closed.Started());
    ASSERT_TRUE(handlesOnly.Started());

    MessageLog messages;
    ModuleSnapshot modules(messages, AllProcesses, true);
    const auto& moduleDenied = modules.DeniedProcesses();
    EXPECT_NE(std::find(moduleDenied.begin(), moduleDenied.end(), closed.Id()), moduleDenied.end());
    EXPECT_EQ(std::find(moduleDenied.begin(), moduleDenied.end(), handlesOnly.Id()),
              moduleDenied.end());

    std::vector<DWORD> handleDenied;
    TakeFileHandleSnapshot(messages, &handleDenied);
    EXPECT_NE(std::find(handleDenied.begin(), handleDenied.end(), closed.Id()), handleDenied.end());
    EXPECT_NE(std::find(handleDenied.begin(), handleDenied.end(), handlesOnly.Id()),
              handleDenied.end());

    Win32System system(messages);
    query::VectorResultList results;
    query::QueryPath(system, results, messages, file);
    const std::vector<DWORD> denied = system.InaccessibleProcesses();
    EXPECT_EQ(std::count(denied.begin(), denied.end(), closed.Id()), 1);
    EXPECT_EQ(std::count(denied.begin(), denied.end(), handlesOnly.Id()), 1);
    EXPECT_EQ(system.InaccessibleProcessCount(), denied.size());
    // Neither is reported: what they hold stays unseen, and nothing says otherwise.
    const std::string hidden = query::FormatResultLine(closed.Id(), "vesperlin-holder.exe");
    EXPECT_EQ(std::find(results.Lines().begin(), results.Lines().end(), hidden),
              results.Lines().end());
    EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32

// The queries on Windows (under Wine) for a file asked for by another spelling of its path
// than the one that opened it: a trailing separator, the 8.3 name, a folder link, the Z: view
// of a C: file, a named pipe; and the querying process itself, which is never a hit.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "query/result_line.h"
#include "query/usage_query.h"
#include "support/holder_process.h"
#include "sysinfo/platform_system.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::HolderProcess;
using testing::MessageLog;
using testing::TempFolder;
using testing::Wide;
using Lines = std::vector<std::string>;

// Waits, on a loaded machine, for something another process does.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine's own function for the Unix path of a Windows one; null on Windows.
std::string UnixPathOf(const std::string& path) {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixFileName) return std::string();
    char* unixPath = unixFileName(Wide(path).c_str());
    if (!unixPath) return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Runs a Unix program (Wine starts one like any other) and leaves it running.
bool StartUnixProgram(const std::string& commandLine) {
    std::wstring line = Wide(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// A link `link` to the folder `target`, gone with the object. The system's symbolic link where
// it makes one; under Wine, whose CreateSymbolicLink makes nothing, a Unix symbolic link, which
// Wine follows. Wine's own removal of such a link removes the folder it leads to, so the Unix
// one is used for that too.
class FolderLink {
  public:
    FolderLink(const std::string& link, const std::string& target) : link(link) {
        if (CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                                SYMBOLIC_LINK_FLAG_DIRECTORY) &&
            Exists(link)) {
            made = viaSystem = true;
            return;
        }
        unixLink = UnixPathOf(link);
        const std::string unixTarget = UnixPathOf(target);
        if (unixLink.empty() || unixTarget.empty()) return;
        made = StartUnixProgram("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
               WaitFor([&] { return Exists(link); });
    }
    ~FolderLink() {
        if (!made) return;
        if (viaSystem) {
            RemoveDirectoryW(Wide(link).c_str());
        } else if (StartUnixProgram("Z:\\bin\\rm -f \"" + unixLink + "\"")) {
            WaitFor([&] { return !Exists(link); });
        }
    }
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    bool Made() const { return made; }

  private:
    std::string link;
    std::string unixLink;
    bool made = false;
    bool viaSystem = false;
};

class TargetResolutionTest : public ::testing::Test {
  protected:
    std::string HolderLine(const HolderProcess& holder, const std::string& suffix = {}) {
        return query::FormatResultLine(holder.Id(), "vesperlin-holder.exe" + suffix);
    }
    Lines Query(const std::string& path) {
        query::VectorResultList lines;
        query::QueryPath(*system, lines, messages, path, query::kNotUsedFormat,
                         [&](const query::Hit& hit) { hits.push_back(hit); });
        return lines.Lines();
    }
    Lines Expand(const std::string& folder) {
        query::VectorResultList lines;
        EXPECT_TRUE(query::ExpandFolder(*system, lines, folder));
        return lines.Lines();
    }
    std::string FullPath(const std::string& path) {
        std::string full;
        EXPECT_TRUE(system->GetFullPath(path, full)) << path;
        return full;
    }

    MessageLog messages;
    std::unique_ptr<System> system = CreatePlatformSystem(messages);
    TempFolder folder;
    std::vector<query::Hit> hits;
};

TEST_F(TargetResolutionTest, NamesAFolderWithATrailingSeparatorAsWithout) {
    const std::string sub = folder.MakeSubfolder("sub");
    const std::string held = folder.MakeFile("sub\\held.txt");
    HolderProcess holder({"--file", held, "--folder", sub});
    ASSERT_TRUE(holder.Started());
    for (const std::string& spelling : {sub + "\\", sub + "\\.", sub + "\\\\"}) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(FullPath(spelling), FullPath(sub));
        EXPECT_EQ(Query(spelling), Lines{HolderLine(holder)});
        Lines expanded = Expand(spelling);
        std::sort(expanded.begin(), expanded.end());
        EXPECT_EQ(expanded, (Lines{HolderLine(holder, " (" + FullPath(sub) + ")"),
                                   HolderLine(holder, " (" + FullPath(held) + ")")}));
        EXPECT_EQ(system->FileNamePart(spelling), "sub");
    }
    // A drive's root keeps its separator.
    EXPECT_EQ(FullPath("C:\\"), "C:\\");
    EXPECT_EQ(FullPath("C:\\\\"), "C:\\");
}

TEST_F(TargetResolutionTest, FindsAFileAskedForByItsShortName) {
    const std::string held = folder.MakeFile("a file with a long name.txt");
    wchar_t shortName[MAX_PATH * 2] = {};
    const DWORD length = GetShortPathNameW(Wide(held).c_str(), shortName, MAX_PATH * 2);
    ASSERT_GT(length, 0u);
    std::string shortPath;
    for (const wchar_t* c = shortName; *c; ++c) shortPath += static_cast<char>(*c);
    if (shortPath == held) GTEST_SKIP() << "this volume makes no short names";
    HolderProcess holder({"--file", held});
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(FullPath(shortPath), FullPath(held));
    EXPECT_EQ(Query(shortPath), Lines{HolderLine(holder)});
}

TEST_F(TargetResolutionTest, FindsAFileAskedForThroughAFolderLink) {
    const std::string real = folder.MakeSubfolder("real");
    const std::string held = folder.MakeFile("real\\held.txt");
    const std::string link = folder.Path() + "\\link";
    FolderLink made(link, real);
    ASSERT_TRUE(made.Made()) << "cannot make a folder link here";
    HolderProcess holder({"--file", held});
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(FullPath(link + "\\held.txt"), FullPath(held));
    EXPECT_EQ(Query(link + "\\held.txt"), Lines{HolderLine(holder)});
    // The folder is listed where the link leads, as the system knows it.
    EXPECT_EQ(Expand(link), Lines{HolderLine(holder, " (" + FullPath(held) + ")")});
}

TEST_F(TargetResolutionTest, FindsALibraryLoadedThroughAFolderLinkByEitherPath) {
    const std::string real = folder.MakeSubfolder("real");
    const std::string library = real + "\\copied_lib.dll";
    ASSERT_TRUE(CopyFileW(Wide(testing::ExecutableFolder() + "holder_lib.dll").c_str(),
                          Wide(library).c_str(), FALSE));
    const std::string link = folder.Path() + "\\link";
    FolderLink made(link, real);
    ASSERT_TRUE(made.Made()) << "cannot make a folder link here";
    HolderProcess holder({"--library", link + "\\copied_lib.dll"});
    ASSERT_TRUE(holder.Started());
    for (const std::string& path : {library, link + "\\copied_lib.dll"}) {
        SCOPED_TRACE(path);
        hits.clear();
        EXPECT_EQ(Query(path), Lines{HolderLine(holder)});
        ASSERT_FALSE(hits.empty());
        EXPECT_TRUE(hits[0].asModule);
    }
    holder.Stop();  // before the folder goes: a loaded library cannot be removed
}

TEST_F(TargetResolutionTest, FindsAFileOfDriveCAskedForThroughTheUnixRootDrive) {
    const std::string held = folder.MakeFile("held.txt");
    const std::string unixPath = UnixPathOf(held);
    if (unixPath.empty()) GTEST_SKIP() << "not under Wine";
    std::string zView = "Z:" + unixPath;
    std::replace(zView.begin(), zView.end(), '/', '\\');
    ASSERT_TRUE(Exists(zView)) << zView;
    HolderProcess holder({"--file", held});
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(Query(zView), Lines{HolderLine(holder)});
}

TEST_F(TargetResolutionTest, FindsTheServerOfANamedPipe) {
    const std::string name = "vesperlin-pipe-" + std::to_string(GetCurrentProcessId());
    HolderProcess holder({"--blocked-pipe", name});
    ASSERT_TRUE(holder.Started());
    const std::string pipe = "\\\\.\\pipe\\" + name;
    EXPECT_EQ(system->Classify(pipe), PathKind::File);
    EXPECT_EQ(Query(pipe), Lines{HolderLine(holder)});
    // Asking did not take the pipe's one instance: it is still there to be asked about.
    EXPECT_EQ(Query("\\\\.\\PIPE\\" + name), Lines{HolderLine(holder)});
    EXPECT_EQ(system->Classify(pipe + "-none"), PathKind::Unreadable);
    EXPECT_EQ(system->DescribePathFailure(pipe + "-none"), "no such pipe");
}

TEST_F(TargetResolutionTest, TellsTheHandleValueAndAccessOfEachHandleHit) {
    const std::string held = folder.MakeFile("held.txt");
    const std::string library = testing::ExecutableFolder() + "holder_lib.dll";
    HolderProcess holder({"--file", held, "--library", library});
    ASSERT_TRUE(holder.Started());
    Query(held);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].use.kind, UseKind::Handle);
    EXPECT_NE(hits[0].use.number, 0u);
    EXPECT_EQ(hits[0].use.number % 4, 0u) << "handle values are multiples of four";
    ASSERT_TRUE(hits[0].use.accessKnown);
    // The holder opens for reading; the system adds synchronise to every file open.
    EXPECT_EQ(AccessNames(hits[0].use.access), (std::vector<std::string>{"read", "synchronise"}));

    hits.clear();
    Query(library);
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits[0].use.kind, UseKind::Module);
}

TEST_F(TargetResolutionTest, NeverReportsItselfForItsOwnCurrentFolder) {
    char current[MAX_PATH * 4] = {};
    ASSERT_GT(GetCurrentDirectoryA(sizeof current, current), 0u);
    // The process does hold its current folder open, as Windows does ...
    std::string full, device;
    ASSERT_TRUE(system->GetFullPath(current, full));
    ASSERT_TRUE(system->GetDeviceFileName(full, device));
    bool holdsIt = false;
    system->TakeFileHandleSnapshot()->VisitNames(
        [&](ProcessId owner, bool named, const std::string& name) {
            holdsIt = holdsIt || (owner == GetCurrentProcessId() && named &&
                                  system->HandleMatches(name, device, full));
            return true;
        });
    EXPECT_TRUE(holdsIt);
    // ... but that is not a use of its own.
    Query(current);
    for (const query::Hit& hit : hits) EXPECT_NE(hit.processId, GetCurrentProcessId());
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32

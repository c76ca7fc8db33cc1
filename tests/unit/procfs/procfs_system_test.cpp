// The /proc system seam against real child processes that hold files, folders and mappings.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "sysinfo/platform_system.h"
#include "sysinfo/procfs/procfs_system.h"
#include "unit/procfs/forked_holder.h"

namespace vesperlin::sysinfo::procfs {
namespace {

using testing::DropPrivileges;
using testing::ForkedHolder;
using testing::RunInChild;
using testing::ScratchFolder;

class RecordingMessages : public Messages {
  public:
    void Show(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// The handle names that one process holds, in snapshot order.
std::vector<std::string> HandleNamesOf(System& system, ProcessId processId) {
    std::vector<std::string> names;
    auto snapshot = system.TakeFileHandleSnapshot();
    snapshot->VisitNames([&](ProcessId owner, bool named, const std::string& name) {
        if (owner == processId && named) names.push_back(name);
        return true;
    });
    return names;
}

std::vector<std::string> ModulePathsOf(System& system, ProcessId processId) {
    std::vector<ModuleRecord> modules;
    EXPECT_TRUE(system.TakeModuleSnapshot(modules));
    std::vector<std::string> paths;
    for (const ModuleRecord& module : modules) {
        if (module.processId == processId) paths.push_back(module.path);
    }
    return paths;
}

bool HoldsHandleOn(System& system, ProcessId processId, const std::string& path) {
    std::string deviceForm;
    if (!system.GetDeviceFileName(path, deviceForm)) return false;
    for (const std::string& name : HandleNamesOf(system, processId)) {
        if (system.HandleMatches(name, deviceForm, path)) return true;
    }
    return false;
}

bool HasModule(System& system, ProcessId processId, const std::string& path) {
    std::string fullPath;
    if (!system.GetFullPath(path, fullPath)) return false;
    for (const std::string& module : ModulePathsOf(system, processId)) {
        if (system.ModuleMatches(module, fullPath)) return true;
    }
    return false;
}

std::function<bool()> OpenAndKeep(const std::string& path, int flags) {
    return [path, flags] { return open(path.c_str(), flags) >= 0; };
}

// Maps the file and closes its descriptor: only the mapping keeps it in use.
std::function<bool()> MapAndClose(const std::string& path) {
    return [path] {
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return false;
        void* view = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        return view != MAP_FAILED;
    };
}

class ProcfsSystemTest : public ::testing::Test {
  protected:
    RecordingMessages messages;
    ProcfsSystem system{messages};
    ScratchFolder scratch;
};

TEST_F(ProcfsSystemTest, FindsFileFolderAndMappingHeldByAnotherProcess) {
    std::string file = scratch.MakeFile("open.txt");
    std::string folder = scratch.MakeFolder("held");
    std::string mapped = scratch.MakeFile("mapped.bin", std::string(8192, 'm'));
    ForkedHolder holder([&] {
        return OpenAndKeep(file, O_RDONLY)() && OpenAndKeep(folder, O_RDONLY | O_DIRECTORY)() &&
               MapAndClose(mapped)();
    });
    ASSERT_TRUE(holder.Ready());
    ProcessId id = static_cast<ProcessId>(holder.Id());

    EXPECT_TRUE(HoldsHandleOn(system, id, file));
    EXPECT_TRUE(HoldsHandleOn(system, id, folder));
    EXPECT_FALSE(HoldsHandleOn(system, id, mapped)) << "its descriptor was closed";
    EXPECT_TRUE(HasModule(system, id, mapped));
    EXPECT_FALSE(HasModule(system, id, file)) << "open, but not mapped";

    std::string imageName;
    EXPECT_TRUE(system.TakeProcessSnapshot()->Lookup(id, imageName));
    EXPECT_EQ(imageName, "unit_procfs");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProcfsSystemTest, CountsTheCurrentFolderOfAProcessAsInUse) {
    std::string folder = scratch.MakeFolder("cwd");
    std::string other = scratch.MakeFolder("other");
    ForkedHolder holder([&] { return chdir(folder.c_str()) == 0; });
    ASSERT_TRUE(holder.Ready());
    ProcessId id = static_cast<ProcessId>(holder.Id());
    EXPECT_TRUE(HoldsHandleOn(system, id, folder));
    EXPECT_FALSE(HoldsHandleOn(system, id, other));
}

TEST_F(ProcfsSystemTest, ListsTheExecutableFirstAndEachModulePathOnce) {
    std::string mapped = scratch.MakeFile("twice.bin", std::string(3 * 4096, 'm'));
    ForkedHolder holder([&] {
        int fd = open(mapped.c_str(), O_RDONLY);
        // Two separate mappings of the same file: two maps lines, one module.
        bool ok = fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED &&
                  mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 8192) != MAP_FAILED;
        close(fd);
        return ok;
    });
    ASSERT_TRUE(holder.Ready());

    std::vector<std::string> paths = ModulePathsOf(system, static_cast<ProcessId>(holder.Id()));
    ASSERT_FALSE(paths.empty());
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(length, 0);
    EXPECT_EQ(paths.front(), std::string(exe, static_cast<std::size_t>(length)));
    EXPECT_EQ(std::count(paths.begin(), paths.end(), mapped), 1);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), paths.size());
}

TEST_F(ProcfsSystemTest, NamesPipesSocketsAndMemoryFilesButNoAnonymousInodes) {
    std::string file = scratch.MakeFile("plain.txt");
    int pipeFds[2], socketFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, socketFds), 0);
    const int named[] = {pipeFds[0], pipeFds[1], socketFds[0], socketFds[1],
                         memfd_create("probe", 0)};
    const int anonymous = eventfd(0, 0);
    auto identity = [](int fd) {
        struct stat st;
        EXPECT_EQ(fstat(fd, &st), 0);
        return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    };
    std::set<std::string> expected;
    for (int fd : named) expected.insert(identity(fd));
    const std::string shared = identity(anonymous);
    ForkedHolder holder(OpenAndKeep(file, O_RDONLY));  // inherits every descriptor above
    for (int fd : named) close(fd);
    close(anonymous);
    ASSERT_TRUE(holder.Ready());

    std::vector<std::string> names = HandleNamesOf(system, static_cast<ProcessId>(holder.Id()));
    const std::set<std::string> held(names.begin(), names.end());
    for (const std::string& name : expected) EXPECT_EQ(held.count(name), 1u) << name;
    // Every eventfd, epoll and timer descriptor shares this one inode: it names nothing.
    EXPECT_EQ(held.count(shared), 0u);
    EXPECT_TRUE(HoldsHandleOn(system, static_cast<ProcessId>(holder.Id()), file));
}

TEST_F(ProcfsSystemTest, FindsTheHolderThroughSymbolicAndHardLinksAndAfterDeletion) {
    std::string file = scratch.MakeFile("original.txt");
    std::string symbolic = scratch.Path() + "/symbolic.txt";
    std::string hard = scratch.Path() + "/hard.txt";
    ASSERT_EQ(symlink(file.c_str(), symbolic.c_str()), 0);
    ASSERT_EQ(link(file.c_str(), hard.c_str()), 0);
    ForkedHolder holder(OpenAndKeep(file, O_RDONLY));
    ASSERT_TRUE(holder.Ready());
    ProcessId id = static_cast<ProcessId>(holder.Id());

    EXPECT_TRUE(HoldsHandleOn(system, id, symbolic));
    EXPECT_TRUE(HoldsHandleOn(system, id, hard));
    // The name it was opened by goes; the open file is still reachable through the other one.
    ASSERT_EQ(unlink(file.c_str()), 0);
    EXPECT_TRUE(HoldsHandleOn(system, id, hard));
}

TEST_F(ProcfsSystemTest, MatchesAMappingThroughAnotherNameOfTheFile) {
    std::string mapped = scratch.MakeFile("lib.so", std::string(4096, 'l'));
    std::string hard = scratch.Path() + "/lib-link.so";
    ASSERT_EQ(link(mapped.c_str(), hard.c_str()), 0);
    ForkedHolder holder(MapAndClose(mapped));
    ASSERT_TRUE(holder.Ready());
    ProcessId id = static_cast<ProcessId>(holder.Id());

    EXPECT_TRUE(HasModule(system, id, hard));
    // Deleted while mapped: the maps line says " (deleted)", and only the remaining name
    // still leads to the file.
    ASSERT_EQ(unlink(mapped.c_str()), 0);
    EXPECT_TRUE(HasModule(system, id, hard));
    scratch.MakeFile("lib.so", "a new file under the old name");
    EXPECT_FALSE(HasModule(system, id, mapped));
}

TEST_F(ProcfsSystemTest, SkipsAndCountsProcessesTheUserMayNotInspect) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run processes as two users";
    std::string file = scratch.MakeFile("shared.txt");
    ForkedHolder rootHolder(OpenAndKeep(file, O_RDONLY));
    ForkedHolder nobodyHolder(
        [&] { return DropPrivileges(65534, 65534) && open(file.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(rootHolder.Ready());
    ASSERT_TRUE(nobodyHolder.Ready());

    std::string report = RunInChild([&](int out) {
        if (!DropPrivileges(65534, 65534)) return;
        RecordingMessages childMessages;
        auto seen = CreatePlatformSystem(childMessages);
        std::vector<ModuleRecord> modules;
        bool modulesRead = seen->TakeModuleSnapshot(modules);
        bool rootFound = HoldsHandleOn(*seen, static_cast<ProcessId>(rootHolder.Id()), file);
        bool nobodyFound = HoldsHandleOn(*seen, static_cast<ProcessId>(nobodyHolder.Id()), file);
        std::string text = std::string(modulesRead ? "modules " : "no-modules ") +
                           (rootFound ? "root-found " : "root-hidden ") +
                           (nobodyFound ? "nobody-found " : "nobody-hidden ") +
                           "messages=" + std::to_string(childMessages.shown.size()) +
                           " inaccessible=" + std::to_string(seen->InaccessibleProcessCount());
        (void)!write(out, text.data(), text.size());
    });
    EXPECT_NE(report.find("modules root-hidden nobody-found messages=0 inaccessible="),
              std::string::npos)
        << report;
    std::size_t count = std::stoul(report.substr(report.find("inaccessible=") + 13));
    EXPECT_GE(count, 1u) << "the root holder at least";
}

TEST_F(ProcfsSystemTest, KeepsProcessOrderWhenManyProcessesAreWalkedSideBySide) {
    std::string file = scratch.MakeFile("crowd.txt");
    std::vector<std::unique_ptr<ForkedHolder>> crowd;
    std::set<ProcessId> expected;
    for (int i = 0; i < 200; ++i) {
        crowd.push_back(std::make_unique<ForkedHolder>(OpenAndKeep(file, O_RDONLY)));
        ASSERT_TRUE(crowd.back()->Ready());
        expected.insert(static_cast<ProcessId>(crowd.back()->Id()));
    }
    std::string deviceForm;
    ASSERT_TRUE(system.GetDeviceFileName(file, deviceForm));

    std::vector<ProcessId> owners;
    std::set<ProcessId> holders;
    system.TakeFileHandleSnapshot()->VisitNames(
        [&](ProcessId owner, bool, const std::string& name) {
            owners.push_back(owner);
            if (system.HandleMatches(name, deviceForm, file)) holders.insert(owner);
            return true;
        });
    EXPECT_TRUE(std::is_sorted(owners.begin(), owners.end()));
    EXPECT_EQ(holders, expected);

    std::vector<ModuleRecord> modules;
    ASSERT_TRUE(system.TakeModuleSnapshot(modules));
    EXPECT_TRUE(std::is_sorted(
        modules.begin(), modules.end(),
        [](const ModuleRecord& a, const ModuleRecord& b) { return a.processId < b.processId; }));
    std::set<ProcessId> withModules;
    for (const ModuleRecord& module : modules) withModules.insert(module.processId);
    EXPECT_TRUE(
        std::includes(withModules.begin(), withModules.end(), expected.begin(), expected.end()));
}

TEST_F(ProcfsSystemTest, CanonicalisesPathsAndClassifiesThem) {
    std::string folder = scratch.MakeFolder("inner");
    std::string file = scratch.MakeFile("inner/file.txt");
    std::string viaLink = scratch.Path() + "/link";
    ASSERT_EQ(symlink(folder.c_str(), viaLink.c_str()), 0);

    std::string fullPath;
    ASSERT_TRUE(system.GetFullPath(viaLink + "/../inner/./file.txt", fullPath));
    EXPECT_EQ(fullPath, file);
    EXPECT_FALSE(system.GetFullPath(scratch.Path() + "/missing", fullPath));
    EXPECT_FALSE(system.GetFullPath("", fullPath));

    std::string deviceForm;
    EXPECT_FALSE(system.GetDeviceFileName(scratch.Path() + "/missing", deviceForm));

    EXPECT_EQ(system.Classify(file), PathKind::File);
    EXPECT_EQ(system.Classify(viaLink), PathKind::Folder);
    EXPECT_EQ(system.Classify(scratch.Path() + "/missing"), PathKind::Unreadable);
}

TEST_F(ProcfsSystemTest, ListsFoldersAndBuildsPaths) {
    scratch.MakeFile("a.txt");
    scratch.MakeFile(".hidden");
    scratch.MakeFolder("sub");
    std::vector<std::string> names;
    ASSERT_TRUE(system.ListFolder(scratch.Path(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden", "a.txt", "sub"}));
    EXPECT_FALSE(system.ListFolder(scratch.Path() + "/a.txt", names));
    EXPECT_TRUE(names.empty());

    EXPECT_EQ(system.JoinPath("/", "etc"), "/etc");
    EXPECT_EQ(system.JoinPath("/tmp/x", "y"), "/tmp/x/y");
    EXPECT_EQ(system.FileNamePart("/tmp/x/report.txt"), "report.txt");
    EXPECT_EQ(system.FileNamePart("report.txt"), "report.txt");
    EXPECT_EQ(system.FileNamePart("/tmp/dir/"), "dir");
    EXPECT_EQ(system.FileNamePart("/"), "/");
}

TEST_F(ProcfsSystemTest, TakesFreshSnapshotsEachTime) {
    std::string file = scratch.MakeFile("later.txt");
    std::vector<ModuleRecord> modules;
    ASSERT_TRUE(system.TakeModuleSnapshot(modules));
    auto before = system.TakeProcessSnapshot();
    ForkedHolder holder(OpenAndKeep(file, O_RDONLY));
    ASSERT_TRUE(holder.Ready());
    ProcessId id = static_cast<ProcessId>(holder.Id());

    std::string name;
    EXPECT_FALSE(before->Lookup(id, name)) << "not listed when the snapshot was taken";
    EXPECT_TRUE(system.TakeProcessSnapshot()->Lookup(id, name));
    EXPECT_TRUE(HoldsHandleOn(system, id, file));
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

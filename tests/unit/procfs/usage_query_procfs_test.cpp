// The usage query over the /proc seam: the lines a user sees for real processes.
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "query/usage_query.h"
#include "sysinfo/procfs/procfs_system.h"
#include "unit/procfs/forked_holder.h"

namespace vesperlin::sysinfo::procfs {
namespace {

using testing::ForkedHolder;
using testing::RunInChild;
using testing::ScratchFolder;
using testing::UnixSocket;

std::string Line(pid_t processId, const std::string& text) {
    char prefix[16];
    snprintf(prefix, sizeof(prefix), "0x%04X  ", static_cast<unsigned>(processId));
    return prefix + text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Descriptor numbers the holders below give what they hold, so that tests can name them.
constexpr int kFirstFixedFd = 100;

// Moves `fd` to the fixed number `number`; false when either fails.
bool KeepAt(int fd, int number) {
    if (fd < 0 || dup2(fd, number) != number) return false;
    if (fd != number) close(fd);
    return true;
}

std::string FdPath(pid_t processId, int fd) {
    return "/proc/" + std::to_string(processId) + "/fd/" + std::to_string(fd);
}

class ProcfsQueryTest : public ::testing::Test {
  protected:
    std::vector<query::Hit> HitsOf(pid_t processId) const {
        std::vector<query::Hit> own;
        for (const query::Hit& hit : hits)
            if (hit.processId == static_cast<ProcessId>(processId)) own.push_back(hit);
        return own;
    }
    query::HitObserver Collect() {
        return [this](const query::Hit& hit) { hits.push_back(hit); };
    }

    SilentMessages messages;
    ProcfsSystem system{messages};
    ScratchFolder scratch;
    query::VectorResultList results;
    std::vector<query::Hit> hits;
};

TEST_F(ProcfsQueryTest, ReportsAHolderOnceWhetherItMapsTheFileOrHoldsItOpen) {
    std::string file = scratch.MakeFile("both.bin", std::string(4096, 'b'));
    std::string link = scratch.Path() + "/alias.bin";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    ForkedHolder holder([&] {
        int fd = open(file.c_str(), O_RDONLY);
        return fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED;
    });
    ASSERT_TRUE(holder.Ready());

    EXPECT_FALSE(query::QueryPath(system, results, messages, link));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{Line(holder.Id(), "unit_procfs")});
}

TEST_F(ProcfsQueryTest, SaysAFileNobodyUsesIsNotUsed) {
    std::string file = scratch.MakeFile("idle.txt");
    EXPECT_FALSE(query::QueryPath(system, results, messages, file));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{"idle.txt is not used."});
}

TEST_F(ProcfsQueryTest, ReportsTheEntriesOfAFolderWithTheirPaths) {
    std::string held = scratch.MakeFile("held.txt");
    std::string mapped = scratch.MakeFile("mapped.bin", std::string(4096, 'm'));
    scratch.MakeFile("idle.txt");
    ForkedHolder holder([&] {
        int fd = open(mapped.c_str(), O_RDONLY);
        bool ok = fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED;
        close(fd);
        return ok && open(held.c_str(), O_RDONLY) >= 0 &&
               open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY) >= 0;
    });
    ASSERT_TRUE(holder.Ready());

    ASSERT_TRUE(query::ExpandFolder(system, results, scratch.Path()));
    const std::vector<std::string>& lines = results.Lines();
    EXPECT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + held + ")")));
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + mapped + ")")));
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + scratch.Path() + ")")));
    // The module pass comes first.
    EXPECT_EQ(lines.front(), Line(holder.Id(), "unit_procfs (" + mapped + ")"));
}

TEST_F(ProcfsQueryTest, FindsWhatADescriptorLinkOfProcNames) {
    // A deleted file, the two ends of a pipe, a socket and a memory file: names that /proc
    // alone gives, and that realpath cannot follow.
    std::string doomed = scratch.MakeFile("doomed.txt");
    ForkedHolder holder([&] {
        int pipeFds[2], socketFds[2];
        return KeepAt(open(doomed.c_str(), O_RDWR), kFirstFixedFd) && unlink(doomed.c_str()) == 0 &&
               pipe(pipeFds) == 0 && KeepAt(pipeFds[0], kFirstFixedFd + 1) &&
               KeepAt(pipeFds[1], kFirstFixedFd + 2) &&
               socketpair(AF_UNIX, SOCK_STREAM, 0, socketFds) == 0 &&
               KeepAt(socketFds[0], kFirstFixedFd + 3) &&
               KeepAt(memfd_create("vesperlin-test", 0), kFirstFixedFd + 4);
    });
    ASSERT_TRUE(holder.Ready());
    const char* kinds[] = {"deleted file", "pipe, read end", "pipe, write end", "socket",
                           "memory file"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(kinds[i]);
        const std::string path = FdPath(holder.Id(), kFirstFixedFd + i);
        query::VectorResultList lines;
        hits.clear();
        EXPECT_FALSE(
            query::QueryPath(system, lines, messages, path, query::kNotUsedFormat, Collect()));
        EXPECT_EQ(lines.Lines(), std::vector<std::string>{Line(holder.Id(), "unit_procfs")});
        // The pipe's two ends are one pipe: the holder uses it through both.
        const std::vector<query::Hit> own = HitsOf(holder.Id());
        ASSERT_EQ(own.size(), i == 1 || i == 2 ? 2u : 1u);
        EXPECT_EQ(own[0].use.kind, UseKind::Descriptor);
        EXPECT_EQ(own[0].path, path) << "a name of /proc is its own full path";
    }
}

TEST_F(ProcfsQueryTest, AsksAboutFilesInFoldersDeeperThanThePathLimit) {
    // In a child: the deep folder becomes its current folder, and the file is asked about by
    // a short relative path, and as an entry of the folder.
    const std::string scratchPath = scratch.Path();
    std::string report = RunInChild([&](int out) {
        std::string text;
        if (chdir(scratchPath.c_str()) != 0 || !testing::EnterDeepFolder()) {
            text = "cannot make the deep folder";
        } else if (int fd = open("held.txt", O_CREAT | O_WRONLY, 0644); fd < 0) {
            text = "cannot make the file";
        } else {
            close(fd);
            ForkedHolder holder([] { return open("held.txt", O_RDONLY) >= 0; });
            SilentMessages quiet;
            ProcfsSystem deep(quiet);
            query::VectorResultList single, folder;
            std::string fullPath;
            const bool formed = deep.GetFullPath("held.txt", fullPath);
            query::QueryPath(deep, single, quiet, "held.txt");
            const bool listed = query::ExpandFolder(deep, folder, ".");
            text = std::string(holder.Ready() ? "ready" : "not-ready") +
                   " formed=" + std::to_string(formed) +
                   " length=" + std::to_string(fullPath.size()) +
                   " single=" + ::testing::PrintToString(single.Lines()) +
                   " listed=" + std::to_string(listed) +
                   " folder=" + ::testing::PrintToString(folder.Lines()) +
                   " expected=" + Line(holder.Id(), "unit_procfs") + " (" + fullPath + ")";
        }
        testing::LeaveDeepFolder(testing::kDeepLevels, "held.txt");
        (void)!write(out, text.data(), text.size());
    });
    ASSERT_EQ(report.find("ready formed=1 "), 0u) << report;
    EXPECT_GT(std::stoul(report.substr(report.find("length=") + 7)), std::size_t{PATH_MAX});
    const std::string expected = report.substr(report.find(" expected=") + 10);
    const std::string holderLine = expected.substr(0, expected.find(' ', 8));
    EXPECT_NE(report.find("single={ \"" + holderLine + "\" }"), std::string::npos) << report;
    // The folder query shows the entry's full path, cut to the line limit of 255.
    EXPECT_NE(report.find("listed=1 folder={ \"" + expected.substr(0, 255) + "\" }"),
              std::string::npos)
        << report;
}

TEST_F(ProcfsQueryTest, CountsTheRootFolderOfAChangedRootProcess) {
    std::string jail = scratch.MakeFolder("jail");
    ForkedHolder holder([&] { return chroot(jail.c_str()) == 0 && chdir("/") == 0; });
    if (!holder.Ready()) GTEST_SKIP() << "this test may not change a process's root";
    EXPECT_FALSE(
        query::QueryPath(system, results, messages, jail, query::kNotUsedFormat, Collect()));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{Line(holder.Id(), "unit_procfs")});
    std::vector<UseKind> uses;
    for (const query::Hit& hit : HitsOf(holder.Id())) uses.push_back(hit.use.kind);
    EXPECT_EQ(uses, (std::vector<UseKind>{UseKind::CurrentFolder, UseKind::RootFolder}));
}

TEST_F(ProcfsQueryTest, FindsTheListenerOfAUnixSocketFileButNotItsClients) {
    const std::string socketFile = scratch.Path() + "/listen.sock";
    ForkedHolder listener([&] { return KeepAt(UnixSocket(socketFile, true), kFirstFixedFd); });
    ASSERT_TRUE(listener.Ready());
    ForkedHolder client([&] { return UnixSocket(socketFile, false) >= 0; });
    ASSERT_TRUE(client.Ready());

    EXPECT_FALSE(
        query::QueryPath(system, results, messages, socketFile, query::kNotUsedFormat, Collect()));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{Line(listener.Id(), "unit_procfs")});
    const std::vector<query::Hit> own = HitsOf(listener.Id());
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own[0].use.kind, UseKind::Descriptor);
    EXPECT_EQ(own[0].use.number, static_cast<std::uint64_t>(kFirstFixedFd));
}

TEST_F(ProcfsQueryTest, TellsEveryWayAProcessUsesTheFile) {
    std::string file = scratch.MakeFile("used.bin", std::string(8192, 'u'));
    std::string folder = scratch.MakeFolder("cwd");
    ForkedHolder holder([&] {
        int fd = open(file.c_str(), O_RDWR);
        bool ok = fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED &&
                  mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 4096) != MAP_FAILED;
        close(fd);
        return ok && KeepAt(open(file.c_str(), O_RDONLY), kFirstFixedFd) &&
               KeepAt(open(file.c_str(), O_WRONLY), kFirstFixedFd + 1) &&
               KeepAt(open(file.c_str(), O_RDWR), kFirstFixedFd + 2) &&
               KeepAt(open(file.c_str(), O_PATH), kFirstFixedFd + 3) && chdir(folder.c_str()) == 0;
    });
    ASSERT_TRUE(holder.Ready());

    ASSERT_FALSE(query::QueryPaths(system, results, {file, folder}, Collect()));
    std::vector<std::string> uses;
    for (const query::Hit& hit : HitsOf(holder.Id())) {
        std::string use = UseKindName(hit.use.kind);
        if (hit.use.kind == UseKind::Descriptor) {
            use += " " + std::to_string(hit.use.number) + ":";
            for (const std::string& access : AccessNames(hit.use.access)) use += " " + access;
        }
        for (const std::string& mapping : MappingPermissionTexts(hit.use.mappings))
            use += " " + mapping;
        uses.push_back(use + " (" + hit.path.substr(hit.path.rfind('/') + 1) + ")");
    }
    EXPECT_EQ(uses, (std::vector<std::string>{
                        "mapping r--p rw-s (used.bin)", "descriptor 100: read (used.bin)",
                        "descriptor 101: write (used.bin)", "descriptor 102: read write (used.bin)",
                        "descriptor 103: (used.bin)", "currentFolder (cwd)"}));

    // The program it runs: this test, of which the holder is a fork.
    hits.clear();
    query::QueryPath(system, results, messages, "/proc/self/exe", query::kNotUsedFormat, Collect());
    const std::vector<query::Hit> program = HitsOf(holder.Id());
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program[0].use.kind, UseKind::Executable);
    EXPECT_NE(MappingPermissionTexts(program[0].use.mappings), std::vector<std::string>{});
}

TEST_F(ProcfsQueryTest, LeavesOutFolderEntriesThatLeadNowhereAndListsTheRest) {
    std::string held = scratch.MakeFile("held.txt");
    std::string vanishing = scratch.MakeFile("vanishing.txt");
    const std::string dangling = scratch.Path() + "/dangling", loop = scratch.Path() + "/loop";
    ASSERT_EQ(symlink((scratch.Path() + "/missing").c_str(), dangling.c_str()), 0);
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    ForkedHolder holder([&] { return open(held.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());

    std::vector<std::string> paths;
    ASSERT_TRUE(query::CollectFolderPaths(system, scratch.Path(), paths));
    ASSERT_EQ(unlink(vanishing.c_str()), 0);  // gone between the listing and the query
    std::map<std::string, std::string> skipped;
    EXPECT_FALSE(query::QueryPaths(
        system, results, paths, {},
        [&](const std::string& path, const std::string& reason) { skipped[path] = reason; }));
    EXPECT_EQ(results.Lines(),
              std::vector<std::string>{Line(holder.Id(), "unit_procfs (" + held + ")")});
    EXPECT_EQ(skipped,
              (std::map<std::string, std::string>{{dangling, "a symbolic link that leads nowhere"},
                                                  {loop, "a loop of symbolic links"},
                                                  {vanishing, "no such file or folder"}}));
}

TEST_F(ProcfsQueryTest, NeverListsItselfAsAUserOfWhatItHolds) {
    std::string file = scratch.MakeFile("mine.txt");
    const int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(query::QueryPath(system, results, messages, file));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{"mine.txt is not used."});
    close(fd);
    // Its own current folder, root and program: other processes may use them, it does not.
    query::VectorResultList everything;
    query::QueryPaths(system, everything, {"/", ".", "/proc/self/exe"}, Collect());
    for (const query::Hit& hit : hits) EXPECT_NE(hit.processId, static_cast<ProcessId>(getpid()));
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

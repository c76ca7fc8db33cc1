// The queries against fuser on the same files: the same processes, using each file the same
// way, on every kind of use that fuser knows. fuser runs as a separate program; only its
// output is read.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "query/usage_query.h"
#include "sysinfo/procfs/procfs_system.h"
#include "unit/procfs/forked_holder.h"

namespace vesperlin::sysinfo::procfs {
namespace {

using testing::ForkedHolder;
using testing::ScratchFolder;

constexpr const char* kFuser = "/usr/bin/fuser";

// Process -> the letters of fuser's ACCESS column that apply (f, F, r, c, e, m).
using Uses = std::map<ProcessId, std::set<char>>;

std::string ReadFile(const std::string& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

// What `fuser -v PATH` reports: a line per process with the process id followed by the
// five-character access column. The ids go to standard output and the rest of the table to
// standard error, so both go to one file, in the order written.
Uses RunFuser(const ScratchFolder& outputs, const std::string& path) {
    const std::string outPath = outputs.Path() + "/fuser.out";
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(125);
        execl(kFuser, kFuser, "-v", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Uses uses;
    std::istringstream lines(ReadFile(outPath));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) tokens.push_back(token);
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            const std::string& access = tokens[i];
            const std::string& id = tokens[i - 1];
            if (access.size() != 5 || access.find_first_not_of("fFrcem.") != std::string::npos ||
                id.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::set<char>& letters = uses[static_cast<ProcessId>(std::stoul(id))];
            for (char c : access)
                if (c != '.') letters.insert(c);
            break;
        }
    }
    return uses;
}

// fuser's letter for one way of use.
char FuserLetter(const FileUse& use) {
    switch (use.kind) {
        case UseKind::Descriptor:
        case UseKind::Handle:
            return use.accessKnown && (use.access & AccessWrite) ? 'F' : 'f';
        case UseKind::CurrentFolder:
            return 'c';
        case UseKind::RootFolder:
            return 'r';
        case UseKind::Executable:
            return 'e';
        case UseKind::Mapping:
        case UseKind::Module:
            break;
    }
    return 'm';
}

class FuserAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(kFuser, X_OK) != 0) GTEST_SKIP() << "fuser is not installed";
    }

    // The processes our single-path query reports for `path`, with their uses.
    Uses SingleQuery(const std::string& path) {
        Uses uses;
        query::VectorResultList lines;
        query::QueryPath(
            system, lines, messages, path, query::kNotUsedFormat,
            [&](const query::Hit& hit) { uses[hit.processId].insert(FuserLetter(hit.use)); });
        return uses;
    }

    SilentMessages messages;
    ProcfsSystem system{messages};
    ScratchFolder scratch;
    ScratchFolder outputs;  // fuser's output, apart from the folder asked about
};

TEST_F(FuserAgreement, OnEveryEntryOfAFolderAndTheFolderItself) {
    const std::string read = scratch.MakeFile("read.txt");
    const std::string written = scratch.MakeFile("written.txt");
    const std::string mapped = scratch.MakeFile("mapped.bin", std::string(4096, 'm'));
    const std::string current = scratch.MakeFolder("current");
    const std::string jail = scratch.MakeFolder("jail");
    const std::string socketFile = scratch.Path() + "/listen.sock";
    scratch.MakeFile("idle.txt");
    ASSERT_EQ(symlink("nowhere", (scratch.Path() + "/dangling").c_str()), 0);
    ForkedHolder opener([&] {
        return open(read.c_str(), O_RDONLY) >= 0 && open(written.c_str(), O_WRONLY) >= 0 &&
               open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY) >= 0;
    });
    ForkedHolder mapper([&] {
        int fd = open(mapped.c_str(), O_RDONLY);
        bool ok = fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) != MAP_FAILED;
        close(fd);
        return ok && chdir(current.c_str()) == 0;
    });
    ForkedHolder listener([&] { return testing::UnixSocket(socketFile, true) >= 0; });
    ForkedHolder prisoner([&] { return chroot(jail.c_str()) == 0 && chdir("/") == 0; });
    ASSERT_TRUE(opener.Ready() && mapper.Ready() && listener.Ready());

    std::map<std::string, Uses> ours;
    query::VectorResultList lines;
    ASSERT_TRUE(query::ExpandFolder(system, lines, scratch.Path(), [&](const query::Hit& hit) {
        ours[hit.path][hit.processId].insert(FuserLetter(hit.use));
    }));
    std::vector<std::string> paths;
    ASSERT_TRUE(query::CollectFolderPaths(system, scratch.Path(), paths));
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const Uses fuser = RunFuser(outputs, path);
        EXPECT_EQ(ours[path], fuser) << "folder query";
        EXPECT_EQ(SingleQuery(path), fuser) << "single-path query";
    }
    // The cases are all there: each kind of use was seen.
    EXPECT_EQ(ours[read][static_cast<ProcessId>(opener.Id())], std::set<char>{'f'});
    EXPECT_EQ(ours[written][static_cast<ProcessId>(opener.Id())], std::set<char>{'F'});
    EXPECT_EQ(ours[mapped][static_cast<ProcessId>(mapper.Id())], std::set<char>{'m'});
    EXPECT_EQ(ours[current][static_cast<ProcessId>(mapper.Id())], std::set<char>{'c'});
    EXPECT_EQ(ours[socketFile].count(static_cast<ProcessId>(listener.Id())), 1u);
    if (prisoner.Ready()) {
        EXPECT_EQ(ours[jail][static_cast<ProcessId>(prisoner.Id())], (std::set<char>{'c', 'r'}));
    }
}

TEST_F(FuserAgreement, OnDescriptorLinksOfProc) {
    const std::string doomed = scratch.MakeFile("doomed.txt");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    // The pipe's reader and writer are two processes; the deleted file is held by the writer.
    ForkedHolder reader([&] {
        close(pipeFds[1]);
        return true;
    });
    ForkedHolder writer([&] {
        close(pipeFds[0]);
        int fd = open(doomed.c_str(), O_RDWR);
        return fd >= 0 && dup2(fd, 100) == 100 && dup2(pipeFds[1], 101) == 101 &&
               unlink(doomed.c_str()) == 0;
    });
    close(pipeFds[0]);
    close(pipeFds[1]);
    ASSERT_TRUE(reader.Ready() && writer.Ready());
    const std::string prefix = "/proc/" + std::to_string(writer.Id()) + "/fd/";
    for (const std::string& path : {prefix + "100", prefix + "101"}) {
        SCOPED_TRACE(path);
        const Uses ours = SingleQuery(path);
        EXPECT_EQ(ours, RunFuser(outputs, path));
        EXPECT_EQ(ours.count(static_cast<ProcessId>(writer.Id())), 1u);
    }
    EXPECT_EQ(SingleQuery(prefix + "101").count(static_cast<ProcessId>(reader.Id())), 1u);
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

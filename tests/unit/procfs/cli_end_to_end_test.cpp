// vesperlin-cli as a user runs it: real paths, real holders, the lines and the exit status.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/mount.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <fstream>
#include <sstream>

#include "unit/procfs/forked_holder.h"

namespace vesperlin::sysinfo::procfs {
namespace {

using testing::DropPrivileges;
using testing::ForkedHolder;
using testing::ScratchFolder;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

// Runs the built program with its output sent to files in `outputs` (a folder of their own,
// or a folder query would find the program's own output files). `asUser` runs it as
// that user instead of the test's.
CliRun RunCli(const ScratchFolder& outputs, const std::vector<std::string>& args,
              uid_t asUser = static_cast<uid_t>(-1),
              const std::string& program = VESPERLIN_CLI_PATH) {
    std::string outPath = outputs.Path() + "/out", errPath = outputs.Path() + "/err";
    CliRun run;
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(125);
        if (asUser != static_cast<uid_t>(-1) && !DropPrivileges(asUser, asUser)) _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

std::string Line(pid_t processId, const std::string& text) {
    return std::to_string(processId) + "  " + text;
}

std::string UserName(uid_t uid) {
    const passwd* entry = getpwuid(uid);
    return entry ? entry->pw_name : std::to_string(uid);
}

// The ids `fuser` (run as a black box) names for a path, or for the file system that holds
// it with `mount`.
std::set<std::string> FuserIds(const ScratchFolder& outputs, const std::string& path, bool mount) {
    const std::string outPath = outputs.Path() + "/fuser.out";
    const std::string command = std::string("/usr/bin/fuser ") + (mount ? "-m " : "") + "'" + path +
                                "' >" + outPath + " 2>/dev/null";
    (void)std::system(command.c_str());
    std::set<std::string> ids;
    std::istringstream words(ReadFile(outPath));
    for (std::string word; words >> word;) ids.insert(word);
    return ids;
}

std::set<std::string> LinesOf(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.insert(line);
    return lines;
}

class CliEndToEnd : public ::testing::Test {
  protected:
    ScratchFolder scratch;
    ScratchFolder outputs;
};

TEST_F(CliEndToEnd, PrintsTheHolderOfAFileAndExitsZero) {
    std::string file = scratch.MakeFile("held.txt");
    ForkedHolder holder([&] { return open(file.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());
    CliRun run = RunCli(outputs, {file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line(holder.Id(), "unit_procfs") + "\n");
}

TEST_F(CliEndToEnd, SaysAnUnusedFileIsNotUsedAndExitsOne) {
    std::string file = scratch.MakeFile("idle.txt");
    CliRun run = RunCli(outputs, {file});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "idle.txt is not used.\n");
}

TEST_F(CliEndToEnd, ListsTheUsedEntriesOfAFolderInParentheses) {
    std::string held = scratch.MakeFile("held.txt");
    scratch.MakeFile("idle.txt");
    ForkedHolder holder([&] { return open(held.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());
    CliRun run = RunCli(outputs, {scratch.Path()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line(holder.Id(), "unit_procfs (" + held + ")") + "\n");
}

TEST_F(CliEndToEnd, NotesAFolderEntryThatLeadsNowhereAndListsTheOthers) {
    std::string held = scratch.MakeFile("held.txt");
    const std::string dangling = scratch.Path() + "/dangling";
    ASSERT_EQ(symlink("missing", dangling.c_str()), 0);
    ForkedHolder holder([&] { return open(held.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());
    CliRun run = RunCli(outputs, {scratch.Path() + "/"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line(holder.Id(), "unit_procfs (" + held + ")") + "\n");
    // (A count of processes it could not inspect may follow, in a sandbox.)
    EXPECT_EQ(
        run.err.rfind(
            "vesperlin-cli: " + dangling + ": a symbolic link that leads nowhere; left out\n", 0),
        0u)
        << run.err;
}

TEST_F(CliEndToEnd, ReportsADescriptorWithItsNumberAndAccessInJson) {
    std::string file = scratch.MakeFile("written.txt");
    ForkedHolder holder([&] {
        int fd = open(file.c_str(), O_WRONLY);
        return fd >= 0 && dup2(fd, 100) == 100;
    });
    ASSERT_TRUE(holder.Ready());
    CliRun run = RunCli(outputs, {"--json", "/proc/" + std::to_string(holder.Id()) + "/fd/100"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (const std::string& part :
         {"{\"processId\": " + std::to_string(holder.Id()) + ", \"imageName\": \"unit_procfs\", " +
              "\"user\": \"" + UserName(geteuid()) + "\", \"program\": \"" + self + "\"",
          "\"path\": \"" + file +
              "\", \"foundAs\": \"handle\", \"use\": \"descriptor\", \"useText\": \"fd 100 w\", "
              "\"descriptor\": 100, \"access\": [\"write\"]}"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    }
}

TEST_F(CliEndToEnd, FailsClearlyOnAPathThatDoesNotExist) {
    CliRun run = RunCli(outputs, {scratch.Path() + "/missing.txt"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_FALSE(run.err.empty());
}

TEST_F(CliEndToEnd, TellsAnOrdinaryUserHowManyProcessesItCouldNotInspect) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    std::string file = scratch.MakeFile("mine.txt");
    ForkedHolder rootHolder([&] { return open(file.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(rootHolder.Ready());
    // A copy in the scratch folder: the build tree may not be open to other users.
    std::string program = outputs.Path() + "/vesperlin-cli";
    std::filesystem::copy_file(VESPERLIN_CLI_PATH, program);
    std::filesystem::permissions(program, std::filesystem::perms(0755));
    CliRun run = RunCli(outputs, {file}, 65534, program);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "mine.txt is not used.\n");
    EXPECT_NE(run.err.find("root"), std::string::npos) << run.err;
}

TEST_F(CliEndToEnd, LabelsTheLinesOfEachPathWhenGivenSeveral) {
    const std::string held = scratch.MakeFile("held.txt");
    const std::string idle = scratch.MakeFile("idle.txt");
    const std::string empty = scratch.MakeFolder("empty");
    ForkedHolder holder([&] { return open(held.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());
    const CliRun run = RunCli(outputs, {held, idle, empty});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, held + ":\n" + Line(holder.Id(), "unit_procfs") + "\n" + idle +
                           ":\nidle.txt is not used.\n" + empty + ":\nempty is not used.\n");
    const CliRun pids = RunCli(outputs, {"-p", held, idle});
    EXPECT_EQ(pids.out, std::to_string(holder.Id()) + "\n");
    const CliRun table = RunCli(outputs, {"--long", held});
    EXPECT_EQ(table.out.rfind("PID", table.out.find("PID")), table.out.find("PID"));
    EXPECT_NE(table.out.find("fd "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(held), std::string::npos) << table.out;
}

TEST_F(CliEndToEnd, NamesTheSameProcessesAsFuser) {
    if (access("/usr/bin/fuser", X_OK) != 0) GTEST_SKIP() << "fuser is not installed";
    const std::string a = scratch.MakeFile("a.txt"), b = scratch.MakeFile("b.txt");
    ForkedHolder first([&] { return open(a.c_str(), O_RDONLY) >= 0; });
    ForkedHolder second(
        [&] { return open(a.c_str(), O_RDONLY) >= 0 && open(b.c_str(), O_RDWR) >= 0; });
    ASSERT_TRUE(first.Ready() && second.Ready());
    for (const std::string& path : {a, b}) {
        const CliRun run = RunCli(outputs, {"--pids", path});
        EXPECT_EQ(LinesOf(run.out), FuserIds(outputs, path, false)) << path;
    }
}

TEST_F(CliEndToEnd, FindsEverythingUnderAFolderAndOnItsFileSystem) {
    const std::string inner = scratch.MakeFolder("a") + "/b";
    ASSERT_EQ(mkdir(inner.c_str(), 0755), 0);
    const std::string deep = inner + "/deep.txt";
    ASSERT_EQ(close(open(deep.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ForkedHolder reader([&] { return open(deep.c_str(), O_RDONLY) >= 0; });
    ForkedHolder sitter([&] { return chdir(inner.c_str()) == 0; });
    ASSERT_TRUE(reader.Ready() && sitter.Ready());
    const CliRun run = RunCli(outputs, {"-r", scratch.Path()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LinesOf(run.out),
              (std::set<std::string>{Line(reader.Id(), "unit_procfs (" + deep + ")"),
                                     Line(sitter.Id(), "unit_procfs (" + inner + ")")}));
    // Without -r only the direct entries and the folder itself count.
    EXPECT_EQ(RunCli(outputs, {scratch.Path()}).status, 1);
    // Rows found in a wider scope still tell how they are used: the reader's is read-only.
    const std::string table = RunCli(outputs, {"-r", "-l", scratch.Path()}).out;
    const std::regex readerRow("(^|\n) *" + std::to_string(reader.Id()) +
                               " +[^\n]* fd [0-9]+ r +/");
    EXPECT_TRUE(std::regex_search(table, readerRow)) << table;

    if (access("/usr/bin/fuser", X_OK) != 0) GTEST_SKIP() << "fuser is not installed";
    // The whole file system, against fuser -m. Other processes come and go meanwhile (other
    // tests run in parallel): every process fuser names that is still alive after our run
    // must be ours too, and ours must hold both holders.
    const std::set<std::string> theirs = FuserIds(outputs, deep, true);
    const std::set<std::string> ours = LinesOf(RunCli(outputs, {"-m", "-p", deep}).out);
    EXPECT_TRUE(ours.count(std::to_string(reader.Id())) && ours.count(std::to_string(sitter.Id())));
    for (const std::string& id : theirs) {
        if (kill(static_cast<pid_t>(std::stol(id)), 0) != 0) continue;  // gone by now
        EXPECT_TRUE(ours.count(id)) << id << " is named by fuser -m only";
    }
}

TEST_F(CliEndToEnd, KeepsASecondFileSystemApart) {
    const std::string mountPoint = scratch.MakeFolder("mnt");
    if (mount("vesperlin-test", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::string inside = mountPoint + "/inside.txt";
    const std::string outside = scratch.MakeFile("outside.txt");
    ASSERT_EQ(close(open(inside.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ForkedHolder in([&] { return open(inside.c_str(), O_RDONLY) >= 0; });
    ForkedHolder out([&] { return open(outside.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(in.Ready() && out.Ready());
    EXPECT_EQ(RunCli(outputs, {"-m", "-p", mountPoint}).out, std::to_string(in.Id()) + "\n");
    // Under the scratch folder by name, but on another file system: left out.
    EXPECT_EQ(LinesOf(RunCli(outputs, {"-r", "-p", scratch.Path()}).out),
              (std::set<std::string>{std::to_string(out.Id())}));
}

TEST_F(CliEndToEnd, WaitsForAHolderToLetGoOrGivesUp) {
    const std::string file = scratch.MakeFile("busy.txt");
    {
        ForkedHolder holder([&] { return open(file.c_str(), O_RDONLY) >= 0; });
        ASSERT_TRUE(holder.Ready());
        const auto start = std::chrono::steady_clock::now();
        const CliRun run = RunCli(outputs, {"--wait-free=1", file});
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, Line(holder.Id(), "unit_procfs") + "\n");
        EXPECT_GE(took, 1.0);
    }
    // A holder that ends while we wait. It says when it has the file open, and again just
    // before it lets go: an answer "not used" must come after the second word.
    int says[2];
    ASSERT_EQ(pipe2(says, O_CLOEXEC), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        close(says[0]);
        const int fd = open(file.c_str(), O_RDONLY);
        if (fd < 0 || write(says[1], "h", 1) != 1) _exit(1);
        usleep(700 * 1000);
        if (write(says[1], "g", 1) != 1) _exit(1);
        _exit(0);
    }
    close(says[1]);
    char word = 0;
    const bool held = read(says[0], &word, 1) == 1 && word == 'h';
    const CliRun run = RunCli(outputs, {"--wait-free=20", file});
    ASSERT_EQ(fcntl(says[0], F_SETFL, O_NONBLOCK), 0);
    const bool letGo = read(says[0], &word, 1) == 1 && word == 'g';
    close(says[0]);
    int status = 0;
    waitpid(holder, &status, 0);
    ASSERT_TRUE(held);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "busy.txt is not used.\n");
    EXPECT_TRUE(letGo) << "answered before the holder let go";
}

TEST_F(CliEndToEnd, ShowsHostileNamesEscapedAndLongPathsWhole) {
    const std::string hostile = scratch.MakeFile("new\nline\x1B[31m\xFF.txt");
    const std::string longName = scratch.MakeFolder(std::string(200, 'l')) + "/" +
                                 std::string(300 - scratch.Path().size() - 202, 'f');
    ASSERT_EQ(longName.size(), 300u);
    ASSERT_EQ(close(open(longName.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ForkedHolder holder([&] {
        return open(hostile.c_str(), O_RDONLY) >= 0 && open(longName.c_str(), O_RDONLY) >= 0;
    });
    ASSERT_TRUE(holder.Ready());
    const CliRun text = RunCli(outputs, {scratch.Path()});
    EXPECT_NE(text.out.find("new\\nline\\e[31m\\xFF.txt)\n"), std::string::npos) << text.out;
    const CliRun deep = RunCli(outputs, {"-r", scratch.Path()});
    EXPECT_NE(deep.out.find("(" + longName + ")\n"), std::string::npos) << deep.out;
    EXPECT_EQ(text.out.find('\x1B'), std::string::npos);
    const CliRun json = RunCli(outputs, {"--json", hostile});
    EXPECT_NE(json.out.find("new\\nline\\u001B[31m\\uFFFD.txt\", \"pathHex\": \""),
              std::string::npos)
        << json.out;
}

TEST_F(CliEndToEnd, ReportsAFullDiskOnStandardOutput) {
    const std::string file = scratch.MakeFile("held.txt");
    ForkedHolder holder([&] { return open(file.c_str(), O_RDONLY) >= 0; });
    ASSERT_TRUE(holder.Ready());
    const pid_t child = fork();
    if (child == 0) {
        const int full = open("/dev/full", O_WRONLY);
        const int err = open((outputs.Path() + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (full < 0 || err < 0 || dup2(full, 1) < 0 || dup2(err, 2) < 0) _exit(125);
        execl(VESPERLIN_CLI_PATH, VESPERLIN_CLI_PATH, file.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(ReadFile(outputs.Path() + "/err")
                  .find("vesperlin-cli: standard output: No space left on device\n"),
              std::string::npos);
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

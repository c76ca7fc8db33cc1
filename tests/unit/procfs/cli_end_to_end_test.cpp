// vesperlin-cli as a user runs it: real paths, real holders, the lines and the exit status.
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "unit/procfs/forked_holder.h"

namespace vesperlin::procfs {
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
    char prefix[16];
    snprintf(prefix, sizeof(prefix), "0x%04X  ", static_cast<unsigned>(processId));
    return prefix + text;
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
    EXPECT_NE(run.out.find(
                  "{\"processId\": " + std::to_string(holder.Id()) +
                  ", \"imageName\": \"unit_procfs\", \"processFound\": true, \"path\": \"" + file +
                  "\", \"foundAs\": \"handle\", \"use\": \"descriptor\", "
                  "\"descriptor\": 100, \"access\": [\"write\"]}"),
              std::string::npos)
        << run.out;
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

}  // namespace
}  // namespace vesperlin::procfs

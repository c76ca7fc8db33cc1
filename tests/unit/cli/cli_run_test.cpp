#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "fakes/fake_system.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::cli;

using vesperlin::testing::FakeSystem;

namespace {

// Tells what the run asked of the system when the program lets it go.
class CountingSystem : public FakeSystem {
  public:
    CountingSystem(const FakeSystem& script, std::size_t& modules, std::size_t& handles)
        : FakeSystem(script), modules(modules), handles(handles) {}
    ~CountingSystem() override {
        modules = moduleSnapshotsTaken;
        handles = handleSnapshotsTaken;
    }

  private:
    std::size_t& modules;
    std::size_t& handles;
};

class CliTest : public ::testing::Test {
  protected:
    CliTest() {
        system.processes = {{0x10, "editor.exe"}, {0x20, "viewer.exe"}};
        system.modules = {{0x20, "C:\\app\\viewer.exe"}};
        system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt"}};
        system.kinds = {{"C:\\data\\report.txt", PathKind::File},
                        {"C:\\data\\unused.txt", PathKind::File},
                        {"C:\\app\\viewer.exe", PathKind::File},
                        {"C:\\data", PathKind::Folder},
                        {"C:\\empty", PathKind::Folder}};
        system.folders["C:\\data"] = {".", "..", "report.txt", "unused.txt"};
        system.folders["C:\\empty"] = {".", ".."};
    }

    int Run(const std::vector<std::string>& args) {
        out.Clear();
        err.Clear();
        systemsMade = 0;
        const SystemFactory factory = [this](Messages& messages) -> std::unique_ptr<System> {
            ++systemsMade;
            auto made = std::make_unique<CountingSystem>(system, moduleSnapshots, handleSnapshots);
            made->messages = &messages;  // as the platform systems report their failures
            made->processSnapshots = snapshotsPerRun;
            return made;
        };
        return RunCli(args, factory, platform, out, err);
    }

    FakeSystem system;
    std::vector<FakeSystem::ProcessTable> snapshotsPerRun;
    CliPlatform platform = [] {
        CliPlatform made;
        made.version = "1.2.3";
        made.privilegedUser = "an administrator";
        return made;
    }();
    MemorySink out, err;
    int systemsMade = 0;
    std::size_t moduleSnapshots = 0, handleSnapshots = 0;
};

}  // namespace

TEST_F(CliTest, PrintsDecimalIdsUnderAHeaderPerPathInArgumentOrder) {
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(out.Text(), "16  editor.exe\n");
    EXPECT_EQ(Run({"C:\\app\\viewer.exe", "C:\\data\\report.txt", "C:\\data\\unused.txt"}),
              kCliUsed);
    EXPECT_EQ(out.Text(),
              "C:\\app\\viewer.exe:\n32  viewer.exe\nC:\\data\\report.txt:\n16  "
              "editor.exe\nC:\\data\\unused.txt:\nunused.txt is not used.\n");
    EXPECT_EQ(err.Text(), "");
}

TEST_F(CliTest, AnswersEveryPathFromOneScanOfTheSystem) {
    EXPECT_EQ(Run({"C:\\app\\viewer.exe", "C:\\data\\report.txt", "C:\\data"}), kCliUsed);
    EXPECT_EQ(systemsMade, 1);
    EXPECT_EQ(moduleSnapshots, 1u);
    EXPECT_EQ(handleSnapshots, 1u);
    // The folder's entries are answered as a folder query answers them, under its header.
    EXPECT_NE(out.Text().find("C:\\data:\n16  editor.exe (C:\\data\\report.txt)\n"),
              std::string::npos)
        << out.Text();
}

TEST_F(CliTest, SaysThatAnUnusedFileOrFolderIsNotUsed) {
    EXPECT_EQ(Run({"C:\\data\\unused.txt"}), kCliNotUsed);
    EXPECT_EQ(out.Text(), "unused.txt is not used.\n");
    EXPECT_EQ(Run({"C:\\empty"}), kCliNotUsed);
    EXPECT_EQ(out.Text(), "empty is not used.\n");
}

TEST_F(CliTest, NamesThePathAndTheReasonInEveryError) {
    EXPECT_EQ(Run({"C:\\nowhere.txt", "", "C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(err.Text(),
              "vesperlin-cli: C:\\nowhere.txt: no device form\nvesperlin-cli: : empty path\n");
    EXPECT_NE(out.Text().find("16  editor.exe\n"), std::string::npos);

    // The query's own messages keep their text after the prefix.
    system.modules.clear();
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(err.Text(),
              "vesperlin-cli: C:\\data\\report.txt: Can't get head of module information.\n");
    system.moduleSnapshotFails = true;
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(err.Text(),
              "vesperlin-cli: Couldn't query system information.\nvesperlin-cli: Can't get "
              "process information start position.\nvesperlin-cli: C:\\data\\report.txt: "
              "Can't refresh module information.\n");
    system.moduleSnapshotFails = false;
    system.modules = {{0x20, "C:\\app\\viewer.exe"}};
    system.listingFailures.insert("C:\\data");
    EXPECT_EQ(Run({"C:\\data"}), kCliFailed);
    EXPECT_EQ(err.Text(), "vesperlin-cli: C:\\data: its entries cannot be listed\n");
}

TEST_F(CliTest, NotesFolderEntriesItLeavesOutAndAnswersTheRest) {
    system.folders["C:\\data"] = {".", "..", "gone.txt", "report.txt"};
    system.fullPathFailures.insert("C:\\data\\gone.txt");
    EXPECT_EQ(Run({"C:\\data"}), kCliUsed);
    EXPECT_EQ(out.Text(), "16  editor.exe (C:\\data\\report.txt)\n");
    EXPECT_EQ(err.Text(), "vesperlin-cli: C:\\data\\gone.txt: no full path; left out\n");
}

TEST_F(CliTest, PrintsEachProcessIdOnceInAscendingOrder) {
    system.processes[0x9] = "a.exe";
    system.handles.push_back({0x9, true, "\\Device\\HarddiskVolume1\\data\\report.txt"});
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\data\\report.txt"});
    EXPECT_EQ(Run({"-p", "C:\\data\\report.txt", "C:\\app\\viewer.exe"}), kCliUsed);
    EXPECT_EQ(out.Text(), "9\n16\n32\n");
    EXPECT_EQ(Run({"--pids", "C:\\data\\unused.txt"}), kCliNotUsed);
    EXPECT_EQ(out.Text(), "");
}

TEST_F(CliTest, LeavesOutAProcessThatEndedBeforeItCouldBeNamedAndCountsIt) {
    system.handles.push_back({0x3C63, true, "\\Device\\HarddiskVolume1\\data\\unused.txt"});
    EXPECT_EQ(Run({"C:\\data\\unused.txt"}), kCliNotUsed);
    EXPECT_EQ(out.Text(), "unused.txt is not used.\n");
    EXPECT_EQ(Run({"--json", "C:\\data\\unused.txt"}), kCliNotUsed);
    EXPECT_NE(out.Text().find("\"exitedProcesses\": 1"), std::string::npos) << out.Text();
    EXPECT_NE(out.Text().find("\"used\": false"), std::string::npos);
}

TEST_F(CliTest, ShowsALongTableWithTheDetailsAskedForOnlyThen) {
    FileUse descriptor = UseOf(UseKind::Descriptor);
    descriptor.number = 3;
    descriptor.accessKnown = true;
    descriptor.access = AccessRead | AccessWrite;
    system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt", descriptor}};
    system.details[0x10] = {"alice", "C:\\bin\\editor.exe", "editor.exe report.txt"};
    EXPECT_EQ(Run({"-l", "C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(out.Text(),
              "PID  USER   USE      PROGRAM            PATH                COMMAND\n"
              " 16  alice  fd 3 rw  C:\\bin\\editor.exe  C:\\data\\report.txt  editor.exe "
              "report.txt\n");
    // Cut to the terminal's width only when writing to one.
    platform.terminalWidth = 20;
    EXPECT_EQ(Run({"--long", "C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(out.Text(), "PID  USER   USE     \n 16  alice  fd 3 rw \n");
}

TEST_F(CliTest, KeepsLongPathsWholeAndEscapesHostileNames) {
    const std::string deep = "C:\\" + std::string(300, 'd');
    system.kinds[deep] = PathKind::File;
    system.processes[0x10] = "ed\nit\x1B[31m\xFF.exe";
    system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\" + std::string(300, 'd')}};
    EXPECT_EQ(Run({"-l", deep}), kCliUsed);
    EXPECT_NE(out.Text().find(std::string(300, 'd') + "\n"), std::string::npos);
    EXPECT_EQ(Run({deep}), kCliUsed);
    EXPECT_EQ(out.Text(), "16  ed\\nit\\e[31m\\xFF.exe\n");
    EXPECT_EQ(Run({"--json", deep}), kCliUsed);
    EXPECT_NE(out.Text().find("\"imageName\": \"ed\\nit\\u001B[31m\\uFFFD.exe\", "
                              "\"imageNameHex\": \"65640a69741b5b33316dff2e657865\""),
              std::string::npos)
        << out.Text();
}

TEST_F(CliTest, WritesOneJsonDocumentOfSchemaOne) {
    system.details[0x10] = {"alice", "C:\\bin\\editor.exe", "editor.exe"};
    EXPECT_EQ(Run({"--json", "C:\\data\\report.txt", "C:\\x"}), kCliFailed);
    EXPECT_EQ(out.Text(),
              "{\n"
              "  \"schemaVersion\": 1,\n"
              "  \"queries\": [\n"
              "    {\n"
              "      \"query\": \"C:\\\\data\\\\report.txt\",\n"
              "      \"kind\": \"file\", \"scope\": \"exact\", \"status\": \"done\",\n"
              "      \"reason\": null,\n"
              "      \"messages\": [],\n"
              "      \"used\": true,\n"
              "      \"hits\": [\n"
              "        {\"processId\": 16, \"imageName\": \"editor.exe\", \"user\": \"alice\", "
              "\"program\": \"C:\\\\bin\\\\editor.exe\", \"command\": \"editor.exe\", \"path\": "
              "\"C:\\\\data\\\\report.txt\", \"foundAs\": \"handle\", \"use\": \"handle\", "
              "\"useText\": \"handle 0x0\", \"handle\": 0, \"access\": null}\n"
              "      ],\n"
              "      \"lines\": [\"16  editor.exe\"],\n"
              "      \"skipped\": []\n"
              "    },\n"
              "    {\n"
              "      \"query\": \"C:\\\\x\",\n"
              "      \"kind\": \"unreadable\", \"scope\": \"exact\", \"status\": \"unreadable\",\n"
              "      \"reason\": \"no device form\",\n"
              "      \"messages\": [],\n"
              "      \"used\": false,\n"
              "      \"hits\": [],\n"
              "      \"lines\": [],\n"
              "      \"skipped\": []\n"
              "    }\n"
              "  ],\n"
              "  \"exitedProcesses\": 0,\n"
              "  \"inaccessibleProcesses\": 0\n"
              "}\n");
}

TEST_F(CliTest, FindsEverythingUnderAFolderOrOnAVolume) {
    system.kinds["C:\\data\\deep"] = PathKind::Folder;
    system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\data\\deep\\a\\b.txt"},
                      {0x20, true, "\\??\\C:\\datax\\c.txt"},
                      {0x30, true, "\\Device\\HarddiskVolume2\\data\\deep\\d.txt"}};
    system.processes[0x30] = "other.exe";
    EXPECT_EQ(Run({"-r", "C:\\data\\deep"}), kCliUsed);
    EXPECT_EQ(out.Text(), "16  editor.exe (C:\\data\\deep\\a\\b.txt)\n");
    EXPECT_EQ(Run({"--mount", "-p", "C:\\data\\deep"}), kCliUsed);
    EXPECT_EQ(out.Text(), "16\n32\n");  // viewer.exe's module and its handle on C:
}

TEST_F(CliTest, WaitsUntilNothingUsesThePathsOrTheTimeRunsOut) {
    double clock = 0;
    int pauses = 0;
    platform.now = [&] { return clock; };
    platform.sleep = [&](double seconds) {
        clock += seconds;
        ++pauses;
    };
    // Still used when the time runs out: exit 1 with the last answer.
    EXPECT_EQ(Run({"--wait-free=2", "C:\\data\\report.txt"}), kCliNotUsed);
    EXPECT_EQ(out.Text(), "16  editor.exe\n");
    EXPECT_EQ(pauses, 4);
    EXPECT_DOUBLE_EQ(clock, 2);
    // Let go after the second look: exit 0.
    clock = 0;
    pauses = 0;
    snapshotsPerRun = {system.processes, system.processes, system.processes, {}};
    EXPECT_EQ(Run({"--wait-free", "C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(out.Text(), "report.txt is not used.\n");
}

TEST_F(CliTest, ReportsAWriteErrorAndEndsQuietlyWhenTheReaderHasGone) {
    out.LimitTo(4, false);
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(err.Text(), "vesperlin-cli: standard output: No space left on device\n");
    out = MemorySink();
    out.LimitTo(4, true);
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(err.Text(), "");
}

TEST_F(CliTest, AnswersUsageErrorsHelpAndVersionWithoutInspectingTheSystem) {
    EXPECT_EQ(Run({"--bogus", "C:\\data"}), kCliFailed);
    EXPECT_EQ(out.Text(), "");
    EXPECT_NE(err.Text().find("unknown option '--bogus'"), std::string::npos);
    EXPECT_EQ(Run({"--wait-free=soon", "C:\\data"}), kCliFailed);
    EXPECT_NE(err.Text().find("'soon' for --wait-free"), std::string::npos);
    EXPECT_EQ(Run({}), kCliFailed);
    EXPECT_EQ(Run({"--version"}), kCliUsed);
    EXPECT_EQ(out.Text(), "vesperlin-cli 1.2.3\n");
    EXPECT_EQ(Run({"--help", "C:\\data"}), kCliUsed);
    EXPECT_EQ(out.Text().rfind("Usage: vesperlin-cli [options] PATH...\n", 0), 0u);
    EXPECT_EQ(systemsMade, 0);
}

TEST_F(CliTest, SaysHowManyProcessesCouldNotBeInspected) {
    system.inaccessible = 3;
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(err.Text(),
              "vesperlin-cli: 3 processes could not be inspected; an administrator sees them "
              "all\n");
    platform.runsPrivileged = true;
    platform.privilegedLimits = "protected";
    system.inaccessible = 1;
    Run({"C:\\data\\report.txt"});
    EXPECT_EQ(err.Text(), "vesperlin-cli: 1 process could not be inspected (protected)\n");
}

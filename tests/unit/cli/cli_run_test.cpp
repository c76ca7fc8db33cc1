#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_run.h"
#include "fakes/fake_system.h"

using namespace vesperlin;
using vesperlin::testing::FakeSystem;

namespace {

class CliTest : public ::testing::Test {
  protected:
    CliTest() {
        system.processes = {{0x10, "editor.exe"}, {0x20, "viewer.exe"}};
        system.modules = {{0x20, "C:\\app\\viewer.exe"}};
        system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt"}};
        system.kinds = {{"C:\\data\\report.txt", PathKind::File},
                        {"C:\\data\\unused.txt", PathKind::File},
                        {"C:\\app\\viewer.exe", PathKind::File},
                        {"C:\\data", PathKind::Folder}};
        system.folders["C:\\data"] = {".", "..", "report.txt", "unused.txt"};
    }

    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        systemsMade = 0;
        const SystemFactory factory = [this](Messages& messages) -> std::unique_ptr<System> {
            ++systemsMade;
            auto made = std::make_unique<FakeSystem>(system);
            made->messages = &messages;  // as the platform systems report their failures
            return made;
        };
        return RunCli(args, factory, CliPlatform{"1.2.3", "an administrator"}, out, err);
    }

    FakeSystem system;
    std::ostringstream out, err;
    int systemsMade = 0;
};

}  // namespace

TEST_F(CliTest, PrintsEachPathsLinesInArgumentOrder) {
    EXPECT_EQ(Run({"C:\\app\\viewer.exe", "C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(out.str(), "0x0020  viewer.exe\n0x0010  editor.exe\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliTest, GivesEachPathAListOfItsOwn) {
    // The same process twice: each path's list is fresh, so both lines show, and the second
    // path still gets its not-used line although lines were printed before it.
    system.modules.push_back({0x10, "C:\\data\\report.txt"});
    EXPECT_EQ(Run({"C:\\data\\report.txt", "C:\\data\\report.txt", "C:\\data\\unused.txt"}),
              kCliUsed);
    EXPECT_EQ(out.str(), "0x0010  editor.exe\n0x0010  editor.exe\nunused.txt is not used.\n");
}

TEST_F(CliTest, ExitsWithOneAndTheNotUsedLineWhenNothingUsesTheFile) {
    EXPECT_EQ(Run({"C:\\data\\unused.txt"}), kCliNotUsed);
    EXPECT_EQ(out.str(), "unused.txt is not used.\n");
}

TEST_F(CliTest, ExpandsAFolderIntoParenthesisedLines) {
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\data"});
    EXPECT_EQ(Run({"C:\\data"}), kCliUsed);
    EXPECT_EQ(out.str(),
              "0x0010  editor.exe (C:\\data\\report.txt)\n0x0020  viewer.exe (C:\\data)\n");
}

TEST_F(CliTest, FailsWithAClearMessageOnAnUnreadablePathButQueriesTheOthers) {
    EXPECT_EQ(Run({"C:\\nowhere.txt", "C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(out.str(), "0x0010  editor.exe\n");
    EXPECT_EQ(err.str(),
              "vesperlin-cli: cannot read C:\\nowhere.txt: no such file or folder, or no access\n");
}

TEST_F(CliTest, FailsWhenAQueryStopsEarly) {
    system.modules.clear();
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "Can't get head of module information.\n");

    // The system's own messages come first, on the same stream.
    system.moduleSnapshotFails = true;
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliFailed);
    EXPECT_EQ(err.str(),
              "Couldn't query system information.\nCan't get process information start "
              "position.\nCan't refresh module information.\n");
    system.moduleSnapshotFails = false;

    EXPECT_EQ(Run({"C:\\data"}), kCliFailed);
    EXPECT_NE(err.str().find("C:\\data stopped early"), std::string::npos);

    system.modules = {{0x20, "C:\\app\\viewer.exe"}};
    system.listingFailures.insert("C:\\data");
    EXPECT_EQ(Run({"C:\\data"}), kCliFailed);
    EXPECT_EQ(err.str(), "vesperlin-cli: cannot list the folder C:\\data\n");
}

TEST_F(CliTest, AnswersUsageErrorsHelpAndVersionWithoutInspectingTheSystem) {
    EXPECT_EQ(Run({"--bogus", "C:\\data"}), kCliFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("unknown option '--bogus'"), std::string::npos);
    EXPECT_EQ(Run({}), kCliFailed);
    EXPECT_EQ(Run({"--version"}), kCliUsed);
    EXPECT_EQ(out.str(), "vesperlin-cli 1.2.3\n");
    EXPECT_EQ(Run({"--help", "C:\\data"}), kCliUsed);
    EXPECT_EQ(out.str().rfind("Usage: vesperlin-cli [options] PATH...\n", 0), 0u);
    EXPECT_EQ(systemsMade, 0);
}

TEST_F(CliTest, SaysHowManyProcessesCouldNotBeInspected) {
    system.inaccessible = 3;
    EXPECT_EQ(Run({"C:\\data\\report.txt"}), kCliUsed);
    EXPECT_EQ(err.str(),
              "vesperlin-cli: 3 processes could not be inspected; an administrator sees them "
              "all\n");
    system.inaccessible = 1;
    Run({"C:\\data\\report.txt"});
    EXPECT_NE(err.str().find(": 1 process could"), std::string::npos);
}

TEST_F(CliTest, DoesNotSuggestThePrivilegedUserToThatUser) {
    system.inaccessible = 2;
    std::ostringstream privilegedOut, privilegedErr;
    const SystemFactory factory = [this](Messages&) -> std::unique_ptr<System> {
        return std::make_unique<FakeSystem>(system);
    };
    RunCli({"C:\\data\\report.txt"}, factory, CliPlatform{"1.2.3", "root", true}, privilegedOut,
           privilegedErr);
    EXPECT_EQ(privilegedErr.str(),
              "vesperlin-cli: 2 processes could not be inspected (protected, or in another "
              "namespace)\n");
    // Each platform says what keeps its privileged user out.
    std::ostringstream adminOut, adminErr;
    RunCli({"C:\\data\\report.txt"}, factory,
           CliPlatform{"1.2.3", "an administrator", true, "protected"}, adminOut, adminErr);
    EXPECT_EQ(adminErr.str(), "vesperlin-cli: 2 processes could not be inspected (protected)\n");
}

TEST_F(CliTest, WritesOneJsonDocumentWithEveryDistinctHit) {
    system.processes[0x30] =
        "Pr\xC3\xBC"
        "fung \"q\".exe";
    system.modules.push_back({0x10, "C:\\data\\report.txt"});
    // The same file through one handle twice (one hit) and through another handle.
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt"});
    FileUse other = UseOf(UseKind::Handle);
    other.number = 0x1A4;
    other.accessKnown = true;
    other.access = AccessRead | AccessSynchronise;
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt", other});
    system.handles.push_back({0x30, true, "\\??\\C:\\data\\report.txt"});
    system.handles.push_back({0x40, true, "\\??\\C:\\data\\report.txt"});
    EXPECT_EQ(Run({"--json", "C:\\data\\report.txt", "C:\\data\\unused.txt", "C:\\x"}), kCliFailed);
    EXPECT_EQ(out.str(),
              "{\n"
              "  \"queries\": [\n"
              "    {\n"
              "      \"query\": \"C:\\\\data\\\\report.txt\",\n"
              "      \"kind\": \"file\",\n"
              "      \"status\": \"done\",\n"
              "      \"used\": true,\n"
              "      \"hits\": [\n"
              "        {\"processId\": 16, \"imageName\": \"editor.exe\", \"processFound\": "
              "true, \"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": \"module\", "
              "\"use\": \"module\"},\n"
              "        {\"processId\": 16, \"imageName\": \"editor.exe\", \"processFound\": "
              "true, \"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": \"handle\", "
              "\"use\": \"handle\", \"handle\": 0, \"access\": null},\n"
              "        {\"processId\": 16, \"imageName\": \"editor.exe\", \"processFound\": "
              "true, \"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": \"handle\", "
              "\"use\": \"handle\", \"handle\": 420, \"access\": [\"read\", \"synchronise\"]},\n"
              "        {\"processId\": 48, \"imageName\": \"Pr\xC3\xBC"
              "fung \\\"q\\\".exe\", "
              "\"processFound\": true, \"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": "
              "\"handle\", \"use\": \"handle\", \"handle\": 0, \"access\": null},\n"
              "        {\"processId\": 64, \"imageName\": \"\", \"processFound\": false, "
              "\"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": \"handle\", \"use\": "
              "\"handle\", \"handle\": 0, \"access\": null}\n"
              "      ],\n"
              "      \"lines\": [\"0x0010  editor.exe\", \"0x0030  Pr\xC3\xBC"
              "fung \\\"q\\\".exe\", "
              "\"0x0040  \"]\n"
              "    },\n"
              "    {\n"
              "      \"query\": \"C:\\\\data\\\\unused.txt\",\n"
              "      \"kind\": \"file\",\n"
              "      \"status\": \"done\",\n"
              "      \"used\": false,\n"
              "      \"hits\": [],\n"
              "      \"lines\": [\"unused.txt is not used.\"]\n"
              "    },\n"
              "    {\n"
              "      \"query\": \"C:\\\\x\",\n"
              "      \"kind\": \"unreadable\",\n"
              "      \"status\": \"unreadable\",\n"
              "      \"used\": false,\n"
              "      \"hits\": [],\n"
              "      \"lines\": []\n"
              "    }\n"
              "  ],\n"
              "  \"inaccessibleProcesses\": 0\n"
              "}\n");
}

TEST_F(CliTest, ReportsEveryWayAProcessUsesTheFileInJson) {
    FileUse executable = UseOf(UseKind::Executable);
    executable.mappings = MappingPermissionsBit("r--p") | MappingPermissionsBit("r-xp");
    FileUse descriptor = UseOf(UseKind::Descriptor);
    descriptor.number = 3;
    descriptor.accessKnown = true;
    descriptor.access = AccessWrite;
    FileUse pathOnly = descriptor;
    pathOnly.number = 4;
    pathOnly.access = 0;
    system.modules = {{0x10, "C:\\data\\report.txt", executable},
                      {0x20, "C:\\data\\report.txt", UseOf(UseKind::Mapping)}};
    const std::string name = "\\Device\\HarddiskVolume1\\data\\report.txt";
    system.handles = {{0x10, true, name, descriptor},
                      {0x10, true, name, pathOnly},
                      {0x10, true, name, UseOf(UseKind::CurrentFolder)},
                      {0x20, true, name, UseOf(UseKind::RootFolder)}};
    EXPECT_EQ(Run({"--json", "C:\\data\\report.txt"}), kCliUsed);
    const std::string json = out.str();
    for (const char* use : {
             "\"use\": \"executable\", \"mappings\": [\"r--p\", \"r-xp\"]}",
             "\"use\": \"mapping\", \"mappings\": []}",
             "\"use\": \"descriptor\", \"descriptor\": 3, \"access\": [\"write\"]}",
             "\"use\": \"descriptor\", \"descriptor\": 4, \"access\": []}",
             "\"use\": \"currentFolder\"}",
             "\"use\": \"rootFolder\"}",
         }) {
        EXPECT_NE(json.find(use), std::string::npos) << use << "\n" << json;
    }
    // The lines stay one per process.
    EXPECT_NE(json.find("\"lines\": [\"0x0010  editor.exe\", \"0x0020  viewer.exe\"]"),
              std::string::npos)
        << json;
}

TEST_F(CliTest, NotesFolderEntriesItLeavesOutAndAnswersTheRest) {
    system.folders["C:\\data"] = {".", "..", "gone.txt", "report.txt"};
    system.fullPathFailures.insert("C:\\data\\gone.txt");
    EXPECT_EQ(Run({"C:\\data"}), kCliUsed);
    EXPECT_EQ(out.str(), "0x0010  editor.exe (C:\\data\\report.txt)\n");
    EXPECT_EQ(err.str(), "vesperlin-cli: C:\\data\\gone.txt: no full path; left out\n");
}

TEST_F(CliTest, CallsAHitFromAMappedViewMapped) {
    system.mapped = {{0x20, "\\Device\\HarddiskVolume1\\data\\report.txt"}};
    EXPECT_EQ(Run({"--json", "C:\\data\\report.txt"}), kCliUsed);
    const std::string hit =
        "{\"processId\": 32, \"imageName\": \"viewer.exe\", \"processFound\": "
        "true, \"path\": \"C:\\\\data\\\\report.txt\", \"foundAs\": \"mapped\", \"use\": "
        "\"mapping\", \"mappings\": []}";
    EXPECT_NE(out.str().find(hit), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"lines\": [\"0x0010  editor.exe\", \"0x0020  viewer.exe\"]"),
              std::string::npos)
        << out.str();
}

#include "query/invocation_query.h"

#include <gtest/gtest.h>

#include "fakes/fake_system.h"
#include "query/usage_query.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::query;

using vesperlin::testing::FakeSystem;
using Lines = std::vector<std::string>;

namespace {

class InvocationQueryTest : public ::testing::Test {
  protected:
    InvocationQueryTest() {
        system.processes = {{0x10, "editor.exe"}, {0x20, "viewer.exe"}};
        system.modules = {{0x20, "C:\\app\\viewer.exe"}, {0x10, "C:\\data\\lib.dll"}};
        system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\data\\report.txt"},
                          {0x20, true, "\\??\\C:\\data\\report.txt"}};
        system.kinds = {{"C:\\data\\report.txt", PathKind::File},
                        {"C:\\data\\lib.dll", PathKind::File},
                        {"C:\\app\\viewer.exe", PathKind::File},
                        {"E:\\x.txt", PathKind::File},
                        {"C:\\data", PathKind::Folder}};
        system.folders["C:\\data"] = {".", "..", "lib.dll", "report.txt"};
    }

    FakeSystem system;
};

}  // namespace

TEST_F(InvocationQueryTest, GivesEveryPathTheAnswerItWouldGetAlone) {
    const std::vector<std::string> paths = {"C:\\data\\report.txt", "C:\\app\\viewer.exe",
                                            "C:\\data"};
    std::vector<QueryRequest> requests;
    for (const std::string& path : paths) requests.push_back({path});
    const std::vector<QueryAnswer> answers = QueryInvocation(system, requests);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(system.handleSnapshotsTaken, 1u);

    // Each alone, through the desktop program's own entries.
    VectorResultList report, viewer, folder;
    vesperlin::testing::RecordingMessages messages;
    FakeSystem alone = system;
    QueryPath(alone, report, messages, paths[0]);
    QueryPath(alone, viewer, messages, paths[1]);
    ExpandFolder(alone, folder, paths[2]);
    EXPECT_EQ(answers[0].lines, report.Lines());
    EXPECT_EQ(answers[1].lines, viewer.Lines());
    EXPECT_EQ(answers[2].lines, folder.Lines());
    EXPECT_EQ(answers[2].lines, (Lines{"0x0010  editor.exe (C:\\data\\lib.dll)",
                                       "0x0010  editor.exe (C:\\data\\report.txt)",
                                       "0x0020  viewer.exe (C:\\data\\report.txt)"}));
    for (const QueryAnswer& answer : answers) EXPECT_EQ(answer.status, QueryStatus::Done);
}

TEST_F(InvocationQueryTest, KeepsEachPathsMessagesAndStopsOnlyThatPath) {
    // E: has no device: the module pass still answers it, its handle pass cannot.
    system.modules.push_back({0x20, "E:\\x.txt"});
    const auto answers =
        QueryInvocation(system, {{"E:\\x.txt"}, {"C:\\data\\report.txt"}, {""}, {"C:\\nope"}});
    EXPECT_EQ(answers[0].status, QueryStatus::Stopped);
    EXPECT_EQ(answers[0].messages, (Lines{"Can't get device filename."}));
    EXPECT_EQ(answers[0].lines, (Lines{"0x0020  viewer.exe"}));  // and no not-used line
    EXPECT_EQ(answers[1].status, QueryStatus::Done);
    EXPECT_EQ(answers[1].lines.size(), 2u);
    EXPECT_EQ(answers[2].status, QueryStatus::Unreadable);
    EXPECT_EQ(answers[2].reason, "empty path");
    EXPECT_EQ(answers[3].status, QueryStatus::Unreadable);
    EXPECT_FALSE(answers[3].reason.empty());

    system.handles.clear();
    const auto noHandles = QueryInvocation(system, {{"C:\\data\\report.txt"}, {"C:\\data"}});
    EXPECT_EQ(noHandles[0].messages, (Lines{"Can't handle info head position."}));
    EXPECT_EQ(noHandles[1].status, QueryStatus::Stopped);
    EXPECT_TRUE(noHandles[1].messages.empty());  // a folder query shows none, as on the desktop
}

TEST_F(InvocationQueryTest, FindsWhatLiesUnderAFolderByItsNames) {
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\data\\sub\\deep.txt"});
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\database.txt"});
    const auto answers = QueryInvocation(system, {{"C:\\data", Scope::Under}});
    EXPECT_EQ(answers[0].lines, (Lines{"0x0010  editor.exe (C:\\data\\lib.dll)",
                                       "0x0010  editor.exe (C:\\data\\report.txt)",
                                       "0x0020  viewer.exe (C:\\data\\report.txt)",
                                       "0x0020  viewer.exe (C:\\data\\sub\\deep.txt)"}));
    // A file asked about at any depth is the file.
    const auto file = QueryInvocation(system, {{"C:\\data\\report.txt", Scope::Under}});
    EXPECT_EQ(file[0].scope, Scope::Exact);
    EXPECT_EQ(file[0].lines, (Lines{"0x0010  editor.exe", "0x0020  viewer.exe"}));
}

TEST(InvocationQueryOfManyPaths, LooksRowsUpByNameAndAnswersAsComparingEveryPathWould) {
    // A folder of 300 entries, a few held in an order of their own, beside a folder asked at
    // any depth: the rows looked up by name must give what comparing each with every path does.
    FakeSystem system;
    system.ignoreCase = false;
    system.processes = {{0x10, "a.exe"}, {0x20, "b.exe"}, {0x30, "c.exe"}};
    system.modules = {{0x10, "C:\\app\\a.exe"}};
    system.kinds = {{"C:\\many", PathKind::Folder}, {"C:\\other", PathKind::Folder}};
    std::vector<std::string>& names = system.folders["C:\\many"];
    for (int i = 0; i < 300; ++i) {
        names.push_back("f" + std::to_string(i));
        system.kinds["C:\\many\\" + names.back()] = PathKind::File;
    }
    for (const auto& [processId, entry] : std::vector<std::pair<ProcessId, int>>{
             {0x20, 250}, {0x10, 7}, {0x30, 7}, {0x10, 120}, {0x20, 3}})
        system.handles.push_back(
            {processId, true, "\\Device\\HarddiskVolume1\\many\\f" + std::to_string(entry)});
    system.handles.push_back({0x30, true, "\\Device\\HarddiskVolume1\\many"});
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\other\\x\\y.txt"});
    for (int i = 0; i < 200; ++i)
        system.handles.push_back(
            {0x10, true, "\\Device\\HarddiskVolume1\\elsewhere\\" + std::to_string(i)});
    const std::vector<QueryRequest> requests = {{"C:\\many"}, {"C:\\other", Scope::Under}};

    FakeSystem compared = system;
    system.exactNames = true;
    compared.exactNames = false;
    const std::vector<QueryAnswer> looked = QueryInvocation(system, requests);
    const std::vector<QueryAnswer> asked = QueryInvocation(compared, requests);
    ASSERT_EQ(looked.size(), 2u);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(looked[0].lines, asked[0].lines);
    EXPECT_EQ(looked[1].lines, asked[1].lines);
    EXPECT_EQ(looked[0].lines,
              (Lines{"0x0020  b.exe (C:\\many\\f250)", "0x0010  a.exe (C:\\many\\f7)",
                     "0x0030  c.exe (C:\\many\\f7)", "0x0010  a.exe (C:\\many\\f120)",
                     "0x0020  b.exe (C:\\many\\f3)", "0x0030  c.exe (C:\\many)"}));
    EXPECT_EQ(looked[1].lines, (Lines{"0x0020  b.exe (C:\\other\\x\\y.txt)"}));
    // Looked up, a row is compared only with the paths it may be: far fewer comparisons.
    EXPECT_LT(system.handleComparisons * 20, compared.handleComparisons);
}

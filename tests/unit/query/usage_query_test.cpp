#include <gtest/gtest.h>

#include "fakes/fake_system.h"
#include "query/usage_query.h"

using namespace vesperlin;
using vesperlin::testing::FakeSystem;
using vesperlin::testing::RecordingMessages;
using Lines = std::vector<std::string>;

namespace {

const std::string kReport = "C:\\data\\report.txt";
const std::string kReportDevice = "\\Device\\HarddiskVolume1\\data\\report.txt";

class QueryTest : public ::testing::Test {
  protected:
    QueryTest() {
        system.processes = {{0x10, "editor.exe"}, {0x20, "viewer.exe"}, {0x30, "shell.exe"}};
        // Some modules so that the module list is never empty by accident.
        system.modules = {{0x30, "C:\\Windows\\system32\\kernel32.dll"}};
        system.handles = {{0x30, true, "\\Device\\HarddiskVolume1\\Windows\\Temp\\x.log"}};
        // The system reports its own failures where the query reports its own: the user sees
        // both in one stream, as in the programs.
        system.messages = &messages;
    }

    bool Query(const std::string& path) {
        return QueryPath(system, list, messages, path, kNotUsedFormat,
                         [this](const Hit& hit) { hits.push_back(hit); });
    }
    bool QueryAll(const Lines& paths) {
        return QueryPaths(system, list, paths, [this](const Hit& hit) { hits.push_back(hit); });
    }

    FakeSystem system;
    VectorResultList list;
    RecordingMessages messages;
    std::vector<Hit> hits;
};

using QueryPathTest = QueryTest;
using QueryPathsTest = QueryTest;

}  // namespace

TEST_F(QueryPathTest, ReportsModuleHitsBeforeHandleHitsInSnapshotOrder) {
    system.handles = {{0x20, true, kReportDevice}};
    system.modules = {{0x30, "C:\\Windows\\system32\\kernel32.dll"},
                      {0x10, "C:\\DATA\\REPORT.TXT"},
                      {0x30, kReport}};
    EXPECT_FALSE(Query(kReport));
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0010  editor.exe", "0x0030  shell.exe", "0x0020  viewer.exe"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathTest, ShowsAProcessFoundAsModuleAndThroughHandlesOnce) {
    system.modules.push_back({0x10, kReport});
    system.handles = {{0x10, true, kReportDevice},
                      {0x10, true, "\\device\\harddiskvolume1\\DATA\\report.txt"}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe"}));
    // Every hit still reaches the observer, with how it was found.
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_TRUE(hits[0].asModule);
    EXPECT_FALSE(hits[1].asModule);
    EXPECT_EQ(hits[1].path, kReport);
    EXPECT_EQ(hits[1].imageName, "editor.exe");
}

TEST_F(QueryPathTest, KeepsLinesThatDifferOnlyInCase) {
    system.processes[0x10] = "Editor.exe";
    system.processSnapshots = {system.processes, {{0x10, "EDITOR.EXE"}}};
    system.modules.push_back({0x10, kReport});
    system.handles = {{0x10, true, kReportDevice}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  Editor.exe", "0x0010  EDITOR.EXE"}));
}

TEST_F(QueryPathTest, NamesHandleHitsFromASecondSnapshot) {
    // The holder of the handle started after the module pass had read the process list.
    system.processSnapshots = {{{0x10, "editor.exe"}}, {{0x10, "editor.exe"}, {0x44, "late.exe"}}};
    system.handles = {{0x44, true, kReportDevice}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"0x0044  late.exe"}));
    EXPECT_EQ(system.processSnapshotsTaken, 2u);
}

TEST_F(QueryPathTest, GivesAnUnknownProcessAnEmptyText) {
    system.modules.push_back({0x99, kReport});
    system.handles = {{0x1ABCD, true, kReportDevice}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"0x0099  ", "0x1ABCD  "}));
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_FALSE(hits[0].processFound);
    EXPECT_EQ(hits[0].imageName, "");
}

TEST_F(QueryPathTest, StillReportsHitsWhenTheProcessListCannotBeRead) {
    system.processSnapshotFails = true;
    system.modules.push_back({0x10, kReport});
    EXPECT_FALSE(Query(kReport));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  "}));
    // Each pass reads the list and the system says so each time; the query adds nothing.
    EXPECT_EQ(messages.shown,
              (Lines{FakeSystem::kProcessListFailure, FakeSystem::kProcessListFailure}));
}

TEST_F(QueryPathTest, IgnoresUnnamedHandlesAndOtherFiles) {
    system.handles = {{0x10, false, ""},
                      {0x20, true, kReportDevice + ".bak"},
                      {0x30, true, "\\Device\\HarddiskVolume2\\data\\report.txt"}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"report.txt is not used."}));
}

TEST_F(QueryPathTest, MatchesWin32NamespaceHandleNamesAgainstTheFullPath) {
    system.handles = {{0x20, true, "\\??\\C:\\work\\notes.txt"}};
    Query("notes.txt");
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe"}));
}

TEST_F(QueryPathTest, TranslatesTheFullPathSoRelativePathsReachTheHandlePass) {
    system.modules.push_back({0x10, "C:\\work\\sub\\notes.txt"});
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\work\\sub\\notes.txt"}};
    EXPECT_FALSE(Query("sub\\notes.txt"));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe", "0x0020  viewer.exe"}));
    EXPECT_EQ(system.translated, (Lines{"C:\\work\\sub\\notes.txt"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathTest, AddsTheNotUsedLineWithTheTextAfterTheLastBackslash) {
    EXPECT_FALSE(Query(kReport));
    EXPECT_EQ(list.Lines(), (Lines{"report.txt is not used."}));

    VectorResultList other;
    QueryPath(system, other, messages, "plain.txt", "%s wird nicht benutzt.");
    EXPECT_EQ(other.Lines(), (Lines{"plain.txt wird nicht benutzt."}));

    // The name comes from the path as given, not from its full form.
    VectorResultList third;
    QueryPath(system, third, messages, "sub\\deep.txt");
    EXPECT_EQ(third.Lines(), (Lines{"deep.txt is not used."}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathTest, AddsNoNotUsedLineToAListThatAlreadyHasLines) {
    list.Add("earlier line");
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"earlier line"}));
}

TEST_F(QueryPathTest, HandlesPathsLongerThanTheOldPathLimit) {
    const std::string longPath = "C:\\" + std::string(290, 'd') + "\\file.txt";
    system.modules.push_back({0x10, longPath});
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1" + longPath.substr(2)}};
    EXPECT_FALSE(Query(longPath));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe", "0x0020  viewer.exe"}));
}

TEST_F(QueryPathTest, StopsWithAMessageWhenEachStepFails) {
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> breakIt;
        Lines messages;  // the system's own first, then the query's
        Lines lines;     // lines kept from before the stop
    };
    const std::vector<Case> cases = {
        {"full path",
         [](FakeSystem& s) { s.fullPathFailures.insert(kReport); },
         {"Cant't get full path name."},
         {}},
        {"module refresh",
         [](FakeSystem& s) { s.moduleSnapshotFails = true; },
         {FakeSystem::kProcessListFailure, FakeSystem::kModuleListFailure,
          "Can't refresh module information."},
         {}},
        {"empty module list",
         [](FakeSystem& s) { s.modules.clear(); },
         {"Can't get head of module information."},
         {}},
        {"device form",
         [](FakeSystem& s) { s.deviceFailures.insert(kReport); },
         {"Can't get device filename."},
         {"0x0010  editor.exe"}},
        {"empty handle list",
         [](FakeSystem& s) { s.handles.clear(); },
         {"Can't handle info head position."},
         {"0x0010  editor.exe"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem broken = system;
        broken.modules.push_back({0x10, kReport});
        c.breakIt(broken);
        VectorResultList lines;
        RecordingMessages shown;
        broken.messages = &shown;
        EXPECT_TRUE(QueryPath(broken, lines, shown, kReport));
        EXPECT_EQ(shown.shown, c.messages);
        EXPECT_EQ(lines.Lines(), c.lines);  // and no not-used line
    }
}

TEST_F(QueryPathTest, TranslatesBeforeTakingTheHandleSnapshot) {
    system.deviceFailures.insert(kReport);
    Query(kReport);
    EXPECT_EQ(system.handleSnapshotsTaken, 0u);
}

// The fake names only the rows a limit lets through, so the hit tests above and below also show
// that a limit never costs a hit; these show that a limit is set at all.
TEST_F(QueryPathTest, LimitsHandleNamingToTheRequestedFile) {
    system.handles = {{0x20, true, kReportDevice}};
    Query(kReport);
    ASSERT_EQ(system.handleLimits.size(), 1u);
    ASSERT_EQ(system.handleLimits[0].size(), 1u);
    EXPECT_EQ(system.handleLimits[0][0].deviceForm, kReportDevice);
    EXPECT_EQ(system.handleLimits[0][0].fullPath, kReport);
}

TEST_F(QueryPathsTest, LimitsHandleNamingToEveryElementUnlessOneCannotBeTranslated) {
    QueryAll({"C:\\dir\\a.txt", "D:\\b.txt", "C:\\dir"});
    ASSERT_EQ(system.handleLimits.size(), 1u);
    EXPECT_EQ(system.handleLimits[0].size(), 3u);
    EXPECT_EQ(system.handleLimits[0][1].deviceForm, "\\Device\\HarddiskVolume2\\b.txt");
    // The visit stops at the first handle then; its first elements are still compared.
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    QueryAll({"C:\\dir\\a.txt", "Q:\\nodrive.txt"});
    EXPECT_EQ(system.handleLimits.size(), 1u);
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe (C:\\dir\\a.txt)"}));
}

TEST_F(QueryPathsTest, ShowsImageAndPathPerElementInModuleThenHandleOrder) {
    const std::string a = "C:\\dir\\a.txt", b = "C:\\dir\\b.dll", dir = "C:\\dir";
    system.modules = {{0x10, "c:\\DIR\\B.DLL"}, {0x20, b}};
    system.handles = {{0x30, true, "\\Device\\HarddiskVolume1\\dir"},
                      {0x10, true, "\\Device\\HarddiskVolume1\\dir\\A.TXT"}};
    EXPECT_FALSE(QueryAll({a, b, dir}));
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0010  editor.exe (C:\\dir\\b.dll)", "0x0020  viewer.exe (C:\\dir\\b.dll)",
                     "0x0030  shell.exe (C:\\dir)", "0x0010  editor.exe (C:\\dir\\a.txt)"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathsTest, GivesOneHandleOneLinePerMatchingElementInArrayOrder) {
    // Two elements that name the same file in different case both match one handle.
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    QueryAll({"C:\\DIR\\A.TXT", "C:\\dir\\a.txt"});
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe (C:\\DIR\\A.TXT)",
                                   "0x0020  viewer.exe (C:\\dir\\a.txt)"}));
}

TEST_F(QueryPathsTest, LeavesTheParenthesesOutForAnUnknownProcess) {
    system.modules = {{0x77, "C:\\dir\\a.txt"}};
    system.handles = {{0x78, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    system.processes[0x79] = "";  // known, but nameless
    system.handles.push_back({0x79, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"});
    QueryAll({"C:\\dir\\a.txt"});
    EXPECT_EQ(list.Lines(), (Lines{"0x0077  ", "0x0078  ", "0x0079   (C:\\dir\\a.txt)"}));
}

TEST_F(QueryPathsTest, NeverAddsTheNotUsedLine) {
    EXPECT_FALSE(QueryAll({"C:\\dir\\a.txt", "C:\\dir"}));
    EXPECT_TRUE(list.Lines().empty());
}

TEST_F(QueryPathsTest, StopsSilentlyWhenTheModuleOrHandleListIsMissing) {
    for (int broken = 0; broken < 3; ++broken) {
        SCOPED_TRACE(broken);
        FakeSystem s = system;
        RecordingMessages shown;
        s.messages = &shown;
        s.modules.push_back({0x10, "C:\\dir\\a.txt"});
        if (broken == 0) s.moduleSnapshotFails = true;
        if (broken == 1) s.modules.clear();
        if (broken == 2) s.handles.clear();
        VectorResultList lines;
        EXPECT_TRUE(QueryPaths(s, lines, {"C:\\dir\\a.txt"}));
        EXPECT_EQ(lines.Lines(),
                  broken == 2 ? Lines{"0x0010  editor.exe (C:\\dir\\a.txt)"} : Lines{});
        // Only what the system itself says: none of the single-path query's texts.
        const Lines systemsOwn = {FakeSystem::kProcessListFailure, FakeSystem::kModuleListFailure};
        EXPECT_EQ(shown.shown, broken == 0 ? systemsOwn : Lines{});
    }
}

TEST_F(QueryPathsTest, StillReportsHitsWhenTheProcessListCannotBeRead) {
    system.processSnapshotFails = true;
    system.modules.push_back({0x10, "C:\\dir\\a.txt"});
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"});
    EXPECT_FALSE(QueryAll({"C:\\dir\\a.txt"}));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  ", "0x0020  "}));
    EXPECT_EQ(messages.shown,
              (Lines{FakeSystem::kProcessListFailure, FakeSystem::kProcessListFailure}));
}

TEST_F(QueryPathsTest, EndsWithoutHandlePassWhenAFullPathCannotBeFormed) {
    system.modules = {{0x10, "C:\\dir\\a.txt"}, {0x20, "C:\\dir\\a.txt"}};
    system.fullPathFailures.insert("C:\\dir\\bad");
    system.handles = {{0x30, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    EXPECT_FALSE(QueryAll({"C:\\dir\\a.txt", "C:\\dir\\bad"}));
    // The first module entry matched the element before the failing one.
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (C:\\dir\\a.txt)"}));
    EXPECT_EQ(system.handleSnapshotsTaken, 0u);
}

TEST_F(QueryPathsTest, StopsAtTheFirstHandleWhenAnElementHasNoDeviceForm) {
    system.modules = {{0x10, "\\\\server\\share\\x.txt"}};
    system.handles = {{0x20, false, ""}, {0x30, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    EXPECT_TRUE(QueryAll({"\\\\server\\share\\x.txt", "C:\\dir\\a.txt"}));
    // Module lines stay; the handle pass ended at its first (even unnamed) handle.
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (\\\\server\\share\\x.txt)"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathsTest, KeepsHitsOfElementsBeforeTheOneThatCannotBeTranslated) {
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"},
                      {0x30, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    EXPECT_TRUE(QueryAll({"C:\\dir\\a.txt", "Q:\\nodrive.txt"}));
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe (C:\\dir\\a.txt)"}));
}

TEST_F(QueryPathsTest, TranslatesEachElementAsTheListHoldsIt) {
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\work\\rel.txt"}};
    // A relative element is not completed for the handle pass: it has no drive, so the
    // handle pass stops, as it always has for such lists.
    EXPECT_TRUE(QueryAll({"rel.txt"}));
    EXPECT_EQ(system.translated, (Lines{"rel.txt"}));
    EXPECT_TRUE(list.Lines().empty());
}

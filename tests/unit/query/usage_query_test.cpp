#include <gtest/gtest.h>

#include "fakes/fake_system.h"
#include "query/result_line.h"
#include "query/usage_query.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::query;

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

TEST_F(QueryPathsTest, LimitsHandleNamingToTheElementsThatCanBeFormed) {
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\dir\\a.txt"}};
    QueryAll({"C:\\dir\\a.txt", "Q:\\nodrive.txt", "D:\\b.txt", "C:\\dir"});
    ASSERT_EQ(system.handleLimits.size(), 1u);
    ASSERT_EQ(system.handleLimits[0].size(), 3u);
    EXPECT_EQ(system.handleLimits[0][1].deviceForm, "\\Device\\HarddiskVolume2\\b.txt");
    EXPECT_EQ(system.handleLimits[0][2].fullPath, "C:\\dir");
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

// An element that cannot be formed (a dangling link, an entry removed meanwhile) is left out
// wherever it stands in the list; the others are queried in both passes.
TEST_F(QueryPathsTest, LeavesOutAnElementWhoseFullPathOrDeviceFormCannotBeFormed) {
    const Lines elements = {"C:\\dir\\a.txt", "C:\\dir\\b.txt", "C:\\dir"};
    for (const bool fullPathFails : {true, false}) {
        for (std::size_t bad = 0; bad < elements.size(); ++bad) {
            SCOPED_TRACE((fullPathFails ? "full path of " : "device form of ") + elements[bad]);
            FakeSystem s = system;
            s.modules.clear();
            s.handles.clear();
            Lines expected;
            for (std::size_t i = 0; i < elements.size(); ++i) {
                // Each element is held as a module by one process and open in another.
                const ProcessId moduleHolder = static_cast<ProcessId>(0x100 + i);
                const ProcessId handleHolder = static_cast<ProcessId>(0x200 + i);
                s.processes[moduleHolder] = "m" + std::to_string(i) + ".exe";
                s.processes[handleHolder] = "h" + std::to_string(i) + ".exe";
                s.modules.push_back({moduleHolder, elements[i]});
                s.handles.push_back(
                    {handleHolder, true, "\\Device\\HarddiskVolume1" + elements[i].substr(2)});
                if (i == bad) continue;
                expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(expected.size() / 2),
                                FormatResultLine(moduleHolder, s.processes[moduleHolder] + " (" +
                                                                   elements[i] + ")"));
                expected.push_back(FormatResultLine(
                    handleHolder, s.processes[handleHolder] + " (" + elements[i] + ")"));
            }
            if (fullPathFails) {
                s.fullPathFailures.insert(elements[bad]);
            } else {
                s.deviceFailures.insert(elements[bad]);
            }
            VectorResultList lines;
            std::vector<std::pair<std::string, std::string>> skipped;
            EXPECT_FALSE(QueryPaths(s, lines, elements, {},
                                    [&](const std::string& path, const std::string& reason) {
                                        skipped.emplace_back(path, reason);
                                    }));
            EXPECT_EQ(lines.Lines(), expected);
            ASSERT_EQ(skipped.size(), 1u);
            EXPECT_EQ(skipped[0].first, elements[bad]);
            EXPECT_EQ(skipped[0].second, fullPathFails ? "no full path" : "no device form");
        }
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

TEST_F(QueryPathsTest, TranslatesEachElementAsTheListHoldsIt) {
    system.handles = {{0x20, true, "\\Device\\HarddiskVolume1\\work\\rel.txt"}};
    // A relative element is not completed for the handle pass: without a drive it has no
    // device form, and it is left out.
    EXPECT_FALSE(QueryAll({"rel.txt"}));
    EXPECT_EQ(system.translated, (Lines{"rel.txt"}));
    EXPECT_TRUE(list.Lines().empty());
    EXPECT_EQ(system.handleSnapshotsTaken, 0u) << "nothing left to look for";
}

TEST_F(QueryPathsTest, MatchesNamespaceHandleNamesAgainstTheElementsFullPath) {
    // Under Wine a handle name is the namespace form of the file's full path.
    system.handles = {{0x20, true, "\\??\\C:\\dir\\a.txt"}};
    system.fullPathForms["C:\\DIR\\A.TXT"] = "C:\\dir\\a.txt";
    system.ignoreCase = false;
    QueryAll({"C:\\DIR\\A.TXT"});
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe (C:\\DIR\\A.TXT)"}));
}

TEST_F(QueryTest, NeverReportsTheQueryingProcessItself) {
    system.ownProcessId = 0x20;
    system.modules.push_back({0x20, kReport});
    system.handles = {{0x20, true, kReportDevice}, {0x10, true, kReportDevice}};
    Query(kReport);
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe"}));
    EXPECT_EQ(hits.size(), 1u);

    VectorResultList alone;
    system.handles = {{0x20, true, kReportDevice}};
    QueryPath(system, alone, messages, kReport);
    EXPECT_EQ(alone.Lines(), (Lines{"report.txt is not used."}));

    VectorResultList folder;
    QueryPaths(system, folder, {kReport, "C:\\data"});
    EXPECT_TRUE(folder.Lines().empty());
}

TEST_F(QueryTest, TellsHowEachHitUsesTheFile) {
    FileUse mapping = UseOf(UseKind::Mapping);
    mapping.mappings = MappingPermissionsBit("r-xp");
    FileUse descriptor = UseOf(UseKind::Descriptor);
    descriptor.number = 7;
    descriptor.accessKnown = true;
    descriptor.access = AccessRead | AccessWrite;
    system.modules.push_back({0x10, kReport, mapping});
    system.handles = {{0x20, true, kReportDevice, descriptor},
                      {0x30, true, kReportDevice, UseOf(UseKind::CurrentFolder)}};
    Query(kReport);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].use, mapping);
    EXPECT_EQ(hits[1].use, descriptor);
    EXPECT_EQ(hits[2].use.kind, UseKind::CurrentFolder);

    hits.clear();
    QueryAll({kReport});
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].use, mapping);
    EXPECT_EQ(hits[1].use, descriptor);
}

// The mapped pass: files mapped as data into a process, after the module and handle passes.
const std::string kTable = "C:\\data\\table.bin";
const std::string kTableDevice = "\\Device\\HarddiskVolume1\\data\\table.bin";

TEST_F(QueryPathTest, ReportsProcessesThatOnlyMapTheFileAfterTheHandleHits) {
    system.handles.push_back({0x20, true, kTableDevice});
    // The device form (Windows) and the namespace form (Wine) both name the file.
    system.mapped = {{0x30, "\\Device\\HarddiskVolume1\\Windows\\Fonts\\arial.ttf"},
                     {0x30, "\\??\\c:\\DATA\\table.bin"},
                     {0x10, kTableDevice}};
    EXPECT_FALSE(Query(kTable));
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0020  viewer.exe", "0x0030  shell.exe", "0x0010  editor.exe"}));
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_FALSE(hits[0].asMapped);
    for (const Hit& hit : {hits[1], hits[2]}) {
        EXPECT_TRUE(hit.asMapped);
        EXPECT_FALSE(hit.asModule);
        EXPECT_EQ(hit.path, kTable);
        EXPECT_TRUE(hit.processFound);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathTest, LeavesProcessesReportedAlreadyUnwalked) {
    system.modules.push_back({0x10, kTable});
    system.handles.push_back({0x20, true, kTableDevice});
    system.mapped = {{0x10, kTableDevice}, {0x20, kTableDevice}, {0x30, kTableDevice}};
    Query(kTable);
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0010  editor.exe", "0x0020  viewer.exe", "0x0030  shell.exe"}));
    ASSERT_EQ(system.mappedReported.size(), 1u);
    // Our own process is never walked either: none of its hits would be reported.
    EXPECT_EQ(system.mappedReported[0], (std::vector<ProcessId>{system.ownProcessId, 0x10, 0x20}));
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_TRUE(hits[2].asMapped);
}

TEST_F(QueryPathsTest, WalksAProcessReportedForSomeElementsOnlyForMappedFiles) {
    const std::string a = "C:\\dir\\a.bin", b = "C:\\dir\\b.bin";
    system.modules.push_back({0x10, a});
    system.modules.push_back({0x20, a});
    system.modules.push_back({0x20, b});
    system.mapped = {{0x10, "\\Device\\HarddiskVolume1\\dir\\b.bin"}};
    QueryAll({a, b});
    ASSERT_EQ(system.mappedReported.size(), 1u);
    EXPECT_EQ(system.mappedReported[0], (std::vector<ProcessId>{system.ownProcessId, 0x20}));
    EXPECT_EQ(list.Lines().back(), "0x0010  editor.exe (C:\\dir\\b.bin)");
}

TEST_F(QueryPathTest, GivesAMappedHitWhoseProcessHasGoneAnEmptyText) {
    system.mapped = {{0x99, kTableDevice}};
    EXPECT_FALSE(Query(kTable));
    EXPECT_EQ(list.Lines(), (Lines{"0x0099  "}));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_FALSE(hits[0].processFound);
}

TEST_F(QueryPathTest, LooksForTheFullPathOfARelativeRequest) {
    system.mapped = {{0x20, "\\Device\\HarddiskVolume1\\work\\rel.bin"}};
    Query("rel.bin");
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe"}));
    ASSERT_EQ(system.mappedTargets.size(), 1u);
    ASSERT_EQ(system.mappedTargets[0].size(), 1u);
    EXPECT_EQ(system.mappedTargets[0][0].deviceForm, "\\Device\\HarddiskVolume1\\work\\rel.bin");
    EXPECT_EQ(system.mappedTargets[0][0].fullPath, "C:\\work\\rel.bin");
}

TEST_F(QueryPathTest, RunsOnlyWhenTheHandlePassRanToItsEnd) {
    system.mapped = {{0x20, kTableDevice}};
    system.deviceFailures.insert(kTable);
    EXPECT_TRUE(Query(kTable));
    system.deviceFailures.clear();
    system.handles.clear();
    EXPECT_TRUE(Query(kTable));
    EXPECT_TRUE(QueryAll({kTable, "Q:\\nodrive.bin"}));
    EXPECT_TRUE(system.mappedTargets.empty());
    EXPECT_TRUE(list.Lines().empty());
}

TEST_F(QueryPathTest, SaysNothingWhenTheMappedFilesCannotBeRead) {
    system.mapped = {{0x20, kTableDevice}};
    system.mappedSnapshotFails = true;
    system.handles.push_back({0x10, true, kTableDevice});
    EXPECT_FALSE(Query(kTable));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(QueryPathsTest, ListsEachElementMappedAsDataAsTheListHoldsIt) {
    const std::string a = "C:\\dir\\a.bin", b = "D:\\b.bin";
    system.modules.push_back({0x10, b});
    system.mapped = {{0x20, "\\Device\\HarddiskVolume2\\b.bin"},
                     {0x20, "\\Device\\HarddiskVolume1\\dir\\a.bin"},
                     {0x10, "\\Device\\HarddiskVolume2\\b.bin"}};
    EXPECT_FALSE(QueryAll({a, b}));
    // Records in walk order, elements in list order; the module line is not repeated.
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0010  editor.exe (D:\\b.bin)", "0x0020  viewer.exe (D:\\b.bin)",
                     "0x0020  viewer.exe (C:\\dir\\a.bin)"}));
    ASSERT_EQ(system.mappedTargets.size(), 1u);
    ASSERT_EQ(system.mappedTargets[0].size(), 2u);
    EXPECT_EQ(system.mappedTargets[0][1].fullPath, b);
    EXPECT_EQ(system.mappedTargets[0][1].deviceForm, "\\Device\\HarddiskVolume2\\b.bin");
    // The editor's mapped view gives no line of its own, but it is a hit.
    EXPECT_TRUE(hits.back().asMapped);
    EXPECT_EQ(hits.back().processId, 0x10u);
    EXPECT_EQ(hits.back().path, b);
}

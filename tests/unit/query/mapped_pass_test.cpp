// The query's third pass: files mapped as data into a process, after modules and handles.
#include <gtest/gtest.h>

#include "fakes/fake_system.h"
#include "query/usage_query.h"

using namespace vesperlin;
using vesperlin::testing::FakeSystem;
using vesperlin::testing::RecordingMessages;
using Lines = std::vector<std::string>;

namespace {

const std::string kData = "C:\\data\\table.bin";
const std::string kDataDevice = "\\Device\\HarddiskVolume1\\data\\table.bin";

class MappedPassTest : public ::testing::Test {
  protected:
    MappedPassTest() {
        system.processes = {{0x10, "editor.exe"}, {0x20, "viewer.exe"}, {0x30, "shell.exe"}};
        system.modules = {{0x30, "C:\\Windows\\system32\\kernel32.dll"}};
        system.handles = {{0x30, true, "\\Device\\HarddiskVolume1\\Windows\\Temp\\x.log"}};
        system.mapped = {{0x30, "\\Device\\HarddiskVolume1\\Windows\\Fonts\\arial.ttf"}};
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

TEST_F(MappedPassTest, FindsProcessesThatOnlyMapTheFileAfterTheHandleHits) {
    system.handles.push_back({0x20, true, kDataDevice});
    // The device form (Windows) and the namespace form (Wine) both name the file.
    system.mapped = {{0x30, "\\??\\c:\\DATA\\table.bin"}, {0x10, kDataDevice}};
    EXPECT_FALSE(Query(kData));
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0020  viewer.exe", "0x0030  shell.exe", "0x0010  editor.exe"}));
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_FALSE(hits[0].asMapped);
    for (const Hit& hit : {hits[1], hits[2]}) {
        EXPECT_TRUE(hit.asMapped);
        EXPECT_FALSE(hit.asModule);
        EXPECT_EQ(hit.path, kData);
        EXPECT_TRUE(hit.processFound);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MappedPassTest, LeavesProcessesReportedAlreadyUnwalked) {
    system.modules.push_back({0x10, kData});
    system.handles.push_back({0x20, true, kDataDevice});
    system.mapped = {{0x10, kDataDevice}, {0x20, kDataDevice}, {0x30, kDataDevice}};
    Query(kData);
    EXPECT_EQ(list.Lines(),
              (Lines{"0x0010  editor.exe", "0x0020  viewer.exe", "0x0030  shell.exe"}));
    ASSERT_EQ(system.mappedReported.size(), 1u);
    EXPECT_EQ(system.mappedReported[0], (std::vector<ProcessId>{0x10, 0x20}));
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_TRUE(hits[2].asMapped);
}

TEST_F(MappedPassTest, WalksAProcessOfAListThatIsReportedForSomeElementsOnly) {
    const std::string a = "C:\\dir\\a.bin", b = "C:\\dir\\b.bin";
    system.modules.push_back({0x10, a});
    system.modules.push_back({0x20, a});
    system.modules.push_back({0x20, b});
    system.mapped = {{0x10, "\\Device\\HarddiskVolume1\\dir\\b.bin"}};
    QueryAll({a, b});
    ASSERT_EQ(system.mappedReported.size(), 1u);
    EXPECT_EQ(system.mappedReported[0], (std::vector<ProcessId>{0x20}));
    EXPECT_EQ(list.Lines().back(), "0x0010  editor.exe (C:\\dir\\b.bin)");
}

TEST_F(MappedPassTest, GivesAMappedHitWhoseProcessHasGoneAnEmptyText) {
    system.mapped = {{0x99, kDataDevice}};
    EXPECT_FALSE(Query(kData));
    EXPECT_EQ(list.Lines(), (Lines{"0x0099  "}));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_FALSE(hits[0].processFound);
}

TEST_F(MappedPassTest, LooksForTheFullPathOfARelativeRequest) {
    system.mapped = {{0x20, "\\Device\\HarddiskVolume1\\work\\rel.bin"}};
    Query("rel.bin");
    EXPECT_EQ(list.Lines(), (Lines{"0x0020  viewer.exe"}));
    ASSERT_EQ(system.mappedTargets.size(), 1u);
    ASSERT_EQ(system.mappedTargets[0].size(), 1u);
    EXPECT_EQ(system.mappedTargets[0][0].deviceForm, "\\Device\\HarddiskVolume1\\work\\rel.bin");
    EXPECT_EQ(system.mappedTargets[0][0].fullPath, "C:\\work\\rel.bin");
}

TEST_F(MappedPassTest, RunsOnlyWhenTheHandlePassRanToItsEnd) {
    system.mapped = {{0x20, kDataDevice}};
    system.deviceFailures.insert(kData);
    EXPECT_TRUE(Query(kData));
    system.deviceFailures.clear();
    system.handles.clear();
    EXPECT_TRUE(Query(kData));
    EXPECT_TRUE(QueryAll({kData, "Q:\\nodrive.bin"}));
    EXPECT_TRUE(system.mappedTargets.empty());
    EXPECT_TRUE(list.Lines().empty());
}

TEST_F(MappedPassTest, SaysNothingWhenTheMappedFilesCannotBeRead) {
    system.mapped = {{0x20, kDataDevice}};
    system.mappedSnapshotFails = true;
    system.handles.push_back({0x10, true, kDataDevice});
    EXPECT_FALSE(Query(kData));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MappedPassTest, ListsEachMatchingElementOfAListAsTheListHoldsIt) {
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

}  // namespace

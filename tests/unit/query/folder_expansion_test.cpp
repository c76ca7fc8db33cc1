#include <gtest/gtest.h>

#include "fakes/fake_system.h"
#include "query/usage_query.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::query;

using vesperlin::testing::FakeSystem;
using Lines = std::vector<std::string>;

namespace {

class ExpandFolderTest : public ::testing::Test {
  protected:
    ExpandFolderTest() {
        system.processes = {{0x10, "editor.exe"}};
        system.modules = {{0x10, "C:\\Windows\\system32\\kernel32.dll"}};
        system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\Windows\\x.log"}};
        system.folders["C:\\work\\dir"] = {".", "..", "zeta.txt", "sub", "alpha.dll", ".hidden"};
    }
    FakeSystem system;
    VectorResultList list;
};

}  // namespace

TEST_F(ExpandFolderTest, ListsEntriesInPlatformOrderWithoutDotsAndTheFolderLast) {
    Lines paths;
    ASSERT_TRUE(CollectFolderPaths(system, "dir", paths));
    EXPECT_EQ(paths,
              (Lines{"C:\\work\\dir\\zeta.txt", "C:\\work\\dir\\sub", "C:\\work\\dir\\alpha.dll",
                     "C:\\work\\dir\\.hidden", "C:\\work\\dir"}));
}

TEST_F(ExpandFolderTest, QueriesAnEmptyFolderAsItselfOnly) {
    system.folders["C:\\empty"] = {".", ".."};
    system.handles = {{0x10, true, "\\Device\\HarddiskVolume1\\empty"}};
    EXPECT_TRUE(ExpandFolder(system, list, "C:\\empty"));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (C:\\empty)"}));
}

TEST_F(ExpandFolderTest, ReportsHitsOnEntriesAndTheFolderThroughTheListQuery) {
    system.modules.push_back({0x10, "C:\\work\\dir\\alpha.dll"});
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\work\\dir\\zeta.txt"});
    std::vector<Hit> hits;
    bool stopped = true;
    EXPECT_TRUE(ExpandFolder(
        system, list, "C:\\work\\dir", [&](const Hit& hit) { hits.push_back(hit); }, &stopped));
    EXPECT_FALSE(stopped);
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (C:\\work\\dir\\alpha.dll)",
                                   "0x0010  editor.exe (C:\\work\\dir\\zeta.txt)"}));
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_TRUE(hits[0].asModule);
    EXPECT_EQ(hits[1].path, "C:\\work\\dir\\zeta.txt");
}

TEST_F(ExpandFolderTest, QueriesNothingWhenTheFolderCannotBeListed) {
    system.modules.push_back({0x10, "C:\\work\\dir"});
    system.listingFailures.insert("C:\\work\\dir");
    Lines paths = {"left over"};
    EXPECT_FALSE(CollectFolderPaths(system, "C:\\work\\dir", paths));
    EXPECT_TRUE(paths.empty());

    bool stopped = true;
    EXPECT_FALSE(ExpandFolder(system, list, "C:\\work\\dir", {}, &stopped));
    EXPECT_FALSE(stopped);
    EXPECT_TRUE(list.Lines().empty());
    EXPECT_EQ(system.processSnapshotsTaken + system.handleSnapshotsTaken, 0u);

    // A path that is no folder at all cannot be listed either.
    EXPECT_FALSE(ExpandFolder(system, list, "C:\\work\\missing"));
    system.fullPathFailures.insert("bad");
    EXPECT_FALSE(ExpandFolder(system, list, "bad"));
    EXPECT_EQ(system.processSnapshotsTaken + system.handleSnapshotsTaken, 0u);
}

TEST_F(ExpandFolderTest, TellsTheCallerWhenTheListQueryStoppedEarly) {
    system.handles.clear();
    bool stopped = false;
    EXPECT_TRUE(ExpandFolder(system, list, "C:\\work\\dir", {}, &stopped));
    EXPECT_TRUE(stopped);
}

TEST_F(ExpandFolderTest, LeavesOutAnEntryThatCannotBeFormedAndQueriesTheRest) {
    system.fullPathFailures.insert("C:\\work\\dir\\sub");
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\work\\dir\\.hidden"});
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\work\\dir"});
    bool stopped = true;
    Lines skipped;
    EXPECT_TRUE(ExpandFolder(
        system, list, "C:\\work\\dir", {}, &stopped,
        [&](const std::string& path, const std::string&) { skipped.push_back(path); }));
    EXPECT_FALSE(stopped);
    EXPECT_EQ(skipped, (Lines{"C:\\work\\dir\\sub"}));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (C:\\work\\dir\\.hidden)",
                                   "0x0010  editor.exe (C:\\work\\dir)"}));
}

// The folder's own element left out is the query failing, not an odd entry: its entries are
// still answered, but the caller hears that the answer is incomplete.
TEST_F(ExpandFolderTest, CountsAsStoppedWhenTheFolderItselfCannotBeFormed) {
    system.deviceFailures.insert("C:\\work\\dir");
    system.handles.push_back({0x10, true, "\\Device\\HarddiskVolume1\\work\\dir\\.hidden"});
    system.handles.push_back({0x20, true, "\\Device\\HarddiskVolume1\\work\\dir"});
    bool stopped = false;
    Lines skipped;
    EXPECT_TRUE(ExpandFolder(
        system, list, "C:\\work\\dir", {}, &stopped,
        [&](const std::string& path, const std::string&) { skipped.push_back(path); }));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(skipped, (Lines{"C:\\work\\dir"}));
    EXPECT_EQ(list.Lines(), (Lines{"0x0010  editor.exe (C:\\work\\dir\\.hidden)"}));
}

// Module matching by identity: which name of a file a mapping was seen under does not matter,
// but a deleted mapping is only the file it was.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sysinfo/procfs/module_table.h"
#include "unit/procfs/forked_holder.h"

namespace vesperlin::sysinfo::procfs {
namespace {

FileIdentity IdentityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return FileIdentity{st.st_dev, st.st_ino};
}

TEST(ModuleTable, MatchesALivePathByWhatStatSaysNotByTheMapsColumns) {
    testing::ScratchFolder scratch;
    std::string library = scratch.MakeFile("lib.so");
    std::string other = scratch.MakeFile("other.so");
    std::string hard = scratch.Path() + "/hard.so";
    ASSERT_EQ(link(library.c_str(), hard.c_str()), 0);

    ModuleTable table;
    // Overlay mounts show the lower file system's device in maps: columns that disagree
    // with stat must not hide the match.
    FileIdentity foreign{12345, 67890};
    const std::string* interned = table.Intern(library, false, &foreign);
    EXPECT_EQ(table.Intern(library, false, &foreign), interned) << "one entry per path";
    EXPECT_TRUE(table.Matches(library, library));
    EXPECT_TRUE(table.Matches(library, hard));
    EXPECT_FALSE(table.Matches(library, other));
    EXPECT_FALSE(table.Matches(library, scratch.Path() + "/missing.so"));
}

TEST(ModuleTable, MatchesADeletedMappingOnlyByItsMapsColumns) {
    testing::ScratchFolder scratch;
    std::string survivor = scratch.MakeFile("survivor.so");
    std::string reused = scratch.MakeFile("old.so");
    FileIdentity mapped = IdentityOf(survivor);

    ModuleTable table;
    std::string deletedPath = reused + " (deleted)";
    table.Intern(deletedPath, true, &mapped);
    EXPECT_TRUE(table.Matches(deletedPath, survivor));
    EXPECT_FALSE(table.Matches(deletedPath, reused)) << "a new file under the old name";

    std::string deletedExe = scratch.Path() + "/exe (deleted)";
    table.Intern(deletedExe, true, nullptr);
    EXPECT_FALSE(table.Matches(deletedExe, survivor)) << "nothing identifies it";
}

TEST(ModuleTable, ForgetsEverythingWhenCleared) {
    testing::ScratchFolder scratch;
    std::string first = scratch.MakeFile("first.so");
    ModuleTable table;
    table.Intern(first, false, nullptr);
    ASSERT_TRUE(table.Matches(first, first));

    // Replace the file: a fresh snapshot must see the new identity, not a remembered one.
    std::string renamed = scratch.Path() + "/kept.so";
    ASSERT_EQ(rename(first.c_str(), renamed.c_str()), 0);
    scratch.MakeFile("first.so", "new");
    table.Clear();
    table.Intern(first, false, nullptr);
    EXPECT_TRUE(table.Matches(first, first));
    EXPECT_FALSE(table.Matches(first, renamed));
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

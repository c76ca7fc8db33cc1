// Reading of maps lines: which mappings are files, and what their columns say.
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include "sysinfo/file_use.h"
#include "sysinfo/procfs/maps_reader.h"

namespace vesperlin::sysinfo::procfs {
namespace {

TEST(ParseMapsLine, ReadsPathDeviceAndInodeOfAFileMapping) {
    MapsEntry entry;
    ASSERT_TRUE(
        ParseMapsLine("7f1c2a600000-7f1c2a628000 r--p 00000000 fd:01 1835023                    "
                      "/usr/lib/x86_64-linux-gnu/libc.so.6",
                      entry));
    EXPECT_EQ(entry.path, "/usr/lib/x86_64-linux-gnu/libc.so.6");
    EXPECT_FALSE(entry.deleted);
    EXPECT_EQ(entry.identity.dev, makedev(0xfd, 0x01));
    EXPECT_EQ(entry.identity.ino, 1835023u);
    EXPECT_EQ(MappingPermissionTexts(entry.permissions), std::vector<std::string>{"r--p"});
}

TEST(ParseMapsLine, KeepsBlanksInPathsAndMarksDeletedFiles) {
    MapsEntry entry;
    ASSERT_TRUE(ParseMapsLine(
        "00400000-00401000 r-xp 00000000 103:02 42        /tmp/my dir/a  b.so (deleted)", entry));
    EXPECT_EQ(entry.path, "/tmp/my dir/a  b.so (deleted)");
    EXPECT_TRUE(entry.deleted);
    EXPECT_EQ(entry.identity.dev, makedev(0x103, 0x02));
}

TEST(ParseMapsLine, ReadsAMemoryFileLikeADeletedFile) {
    MapsEntry entry;
    ASSERT_TRUE(ParseMapsLine(
        "7f1c2a800000-7f1c2a801000 rw-s 00000000 00:01 5123   /memfd:buffer (deleted)", entry));
    EXPECT_TRUE(entry.deleted);
    EXPECT_EQ(entry.identity.dev, makedev(0, 1));
    EXPECT_EQ(entry.identity.ino, 5123u);
    EXPECT_EQ(MappingPermissionTexts(entry.permissions), std::vector<std::string>{"rw-s"});
}

TEST(ParseMapsLine, TurnsTheEscapedNewlineBack) {
    MapsEntry entry;
    ASSERT_TRUE(ParseMapsLine("00400000-00401000 r--p 00000000 08:01 7   /tmp/a\\012b", entry));
    EXPECT_EQ(entry.path, "/tmp/a\nb");
}

TEST(ParseMapsLine, RefusesMappingsWithoutAFile) {
    MapsEntry entry;
    for (const char* line : {
             "55d0c0a0e000-55d0c0a2f000 rw-p 00000000 00:00 0                          [heap]",
             "7ffd6d0f4000-7ffd6d115000 rw-p 00000000 00:00 0                          [stack]",
             "7f1c2a800000-7f1c2a900000 rw-p 00000000 00:00 0 ",
             "7f1c2a800000-7f1c2a900000 rw-p 00000000 00:00 0",
             "7f1c2a800000-7f1c2a801000 rw-s 00000000 00:0e 1064   anon_inode:[io_uring]",
             "7f1c2a800000-7f1c2a801000 rwzp 00000000 08:01 5123   /tmp/bad-permissions",
             "garbage",
             "7f1c2a800000-7f1c2a801000 r--p 00000000 zz:01 5123   /tmp/bad-device",
         }) {
        EXPECT_FALSE(ParseMapsLine(line, entry)) << line;
    }
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

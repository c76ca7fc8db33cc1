// The small /proc tables read for descriptors and sockets: fdinfo flags, /proc/net/unix.
#include <fcntl.h>

#include <gtest/gtest.h>

#include "sysinfo/file_use.h"
#include "sysinfo/procfs/fdinfo.h"
#include "sysinfo/procfs/unix_sockets.h"

namespace vesperlin::sysinfo::procfs {
namespace {

TEST(Fdinfo, ReadsTheOctalFlagsWhereverTheLineStands) {
    unsigned flags = 0;
    ASSERT_TRUE(ParseFdinfoFlags("pos:\t0\nflags:\t02100002\nmnt_id:\t16\nino:\t72179\n", flags));
    EXPECT_EQ(flags, 02100002u);
    ASSERT_TRUE(ParseFdinfoFlags("flags:\t0100000", flags));  // no newline at the end
    EXPECT_EQ(flags, 0100000u);
    for (const char* bad :
         {"", "pos:\t0\n", "flags:\n", "flags:\tx12\n", "xflags:\t01\n", "pos: 0 flags: 01\n"}) {
        flags = 7;
        EXPECT_FALSE(ParseFdinfoFlags(bad, flags)) << bad;
        EXPECT_EQ(flags, 7u);
    }
}

TEST(Fdinfo, TellsReadWriteAndPathOnlyDescriptorsApart) {
    EXPECT_EQ(AccessOfOpenFlags(O_RDONLY | O_CLOEXEC), AccessRead);
    EXPECT_EQ(AccessOfOpenFlags(O_WRONLY | O_APPEND), AccessWrite);
    EXPECT_EQ(AccessOfOpenFlags(O_RDWR | O_LARGEFILE), AccessRead | AccessWrite);
    EXPECT_EQ(AccessOfOpenFlags(O_PATH | O_DIRECTORY), 0);
}

TEST(UnixSocketTable, KeepsSocketsBoundToPathsWithTheirInodes) {
    const char* table =
        "Num       RefCount Protocol Flags    Type St Inode Path\n"
        "000000005ccf044d: 00000002 00000000 00010000 0001 01 72180 /tmp/exp/sock\n"
        "00000000fbaba3e7: 00000002 00000000 00000000 0001 03 23742\n"
        "00000000a0cdd665: 00000003 00000000 00000000 0001 03 23766 @/tmp/.X11-unix/X1\n"
        "0000000012345678: 00000003 00000000 00000000 0001 03 24001 /run/my dir/s p.sock\n"
        "garbage line\n"
        "0000000012345679: 00000003 00000000 00000000 0001 03 12x /tmp/bad-inode\n"
        "000000001234567a: 00000002 00000000 00000000 0002 01 24002 /tmp/exp/sock";
    const std::vector<BoundUnixSocket> sockets = ParseUnixSocketTable(table);
    ASSERT_EQ(sockets.size(), 3u);
    EXPECT_EQ(sockets[0].inode, 72180u);
    EXPECT_EQ(sockets[0].path, "/tmp/exp/sock");
    EXPECT_EQ(sockets[1].inode, 24001u);
    EXPECT_EQ(sockets[1].path, "/run/my dir/s p.sock");
    EXPECT_EQ(sockets[2].inode, 24002u);
    EXPECT_TRUE(ParseUnixSocketTable("").empty());
    EXPECT_TRUE(
        ParseUnixSocketTable("Num       RefCount Protocol Flags    Type St Inode Path\n").empty());
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

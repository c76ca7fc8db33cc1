// The usage query over the /proc seam: the lines a user sees for real processes.
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "query/usage_query.h"
#include "sysinfo/procfs/procfs_system.h"
#include "unit/procfs/forked_holder.h"

namespace vesperlin::procfs {
namespace {

using testing::ForkedHolder;
using testing::ScratchFolder;

std::string Line(pid_t processId, const std::string& text) {
    char prefix[16];
    snprintf(prefix, sizeof(prefix), "0x%04X  ", static_cast<unsigned>(processId));
    return prefix + text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ProcfsQueryTest : public ::testing::Test {
  protected:
    SilentMessages messages;
    ProcfsSystem system{messages};
    ScratchFolder scratch;
    VectorResultList results;
};

TEST_F(ProcfsQueryTest, ReportsAHolderOnceWhetherItMapsTheFileOrHoldsItOpen) {
    std::string file = scratch.MakeFile("both.bin", std::string(4096, 'b'));
    std::string link = scratch.Path() + "/alias.bin";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    ForkedHolder holder([&] {
        int fd = open(file.c_str(), O_RDONLY);
        return fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED;
    });
    ASSERT_TRUE(holder.Ready());

    EXPECT_FALSE(QueryPath(system, results, messages, link));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{Line(holder.Id(), "unit_procfs")});
}

TEST_F(ProcfsQueryTest, SaysAFileNobodyUsesIsNotUsed) {
    std::string file = scratch.MakeFile("idle.txt");
    EXPECT_FALSE(QueryPath(system, results, messages, file));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{"idle.txt is not used."});
}

TEST_F(ProcfsQueryTest, ReportsTheEntriesOfAFolderWithTheirPaths) {
    std::string held = scratch.MakeFile("held.txt");
    std::string mapped = scratch.MakeFile("mapped.bin", std::string(4096, 'm'));
    scratch.MakeFile("idle.txt");
    ForkedHolder holder([&] {
        int fd = open(mapped.c_str(), O_RDONLY);
        bool ok = fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) != MAP_FAILED;
        close(fd);
        return ok && open(held.c_str(), O_RDONLY) >= 0 &&
               open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY) >= 0;
    });
    ASSERT_TRUE(holder.Ready());

    ASSERT_TRUE(ExpandFolder(system, results, scratch.Path()));
    const std::vector<std::string>& lines = results.Lines();
    EXPECT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + held + ")")));
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + mapped + ")")));
    EXPECT_TRUE(Contains(lines, Line(holder.Id(), "unit_procfs (" + scratch.Path() + ")")));
    // The module pass comes first.
    EXPECT_EQ(lines.front(), Line(holder.Id(), "unit_procfs (" + mapped + ")"));
}

}  // namespace
}  // namespace vesperlin::procfs

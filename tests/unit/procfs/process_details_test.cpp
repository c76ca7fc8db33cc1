#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "sysinfo/procfs/proc_dir.h"
#include "sysinfo/procfs/process_details.h"

namespace vesperlin::sysinfo::procfs {
namespace {

using namespace std::string_literals;

TEST(ParseStatusUid, TakesTheRealIdOfTheUidLine) {
    uid_t uid = 0;
    ASSERT_TRUE(ParseStatusUid("Name:\tx\nUid:\t1000\t0\t0\t0\nGid:\t5\n", uid));
    EXPECT_EQ(uid, 1000u);
    ASSERT_TRUE(ParseStatusUid("Uid: 7 8 9 10", uid));
    EXPECT_EQ(uid, 7u);
    EXPECT_FALSE(ParseStatusUid("Name:\tUid: 5\n", uid));  // not at the start of a line
    EXPECT_FALSE(ParseStatusUid("Uid:\t12x\n", uid));
    EXPECT_FALSE(ParseStatusUid("Uid:\t\n", uid));
    EXPECT_FALSE(ParseStatusUid("Uid:\t99999999999\n", uid));
}

TEST(JoinCommandLine, JoinsTheArgumentsByBlanks) {
    EXPECT_EQ(JoinCommandLine("sleep\0"
                              "300\0"s),
              "sleep 300");
    EXPECT_EQ(JoinCommandLine("a\0\0b"s), "a  b");  // an empty argument stays visible
    EXPECT_EQ(JoinCommandLine("rewritten title"), "rewritten title");
    EXPECT_EQ(JoinCommandLine(""), "");
}

TEST(ReadProcessDetails, ReadsOurOwnProcess) {
    UniqueFd proc = OpenProcRoot();
    ProcessDetails details;
    ASSERT_TRUE(ReadProcessDetails(proc.Get(), static_cast<ProcessId>(getpid()), details));
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(details.programPath, exe);
    EXPECT_FALSE(details.user.empty());
    EXPECT_NE(details.commandLine.find("unit_procfs"), std::string::npos) << details.commandLine;
    EXPECT_FALSE(ReadProcessDetails(proc.Get(), 0x7FFFFFF0, details));
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs

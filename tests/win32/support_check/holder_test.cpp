#include <gtest/gtest.h>

#include "support/holder_process.h"

using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

TEST(HolderProcess, HoldsAFileAndTheLibraryAndEndsWhenStopped) {
    TempFolder folder;
    const std::string file = folder.MakeFile("held.txt");
    HolderProcess holder({"--file", file, "--library",
                          vesperlin::testing::ExecutableFolder() + "holder_lib.dll",
                          "--blocked-pipe", "vesperlin-support-check", "--self-handles"});
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(WaitForSingleObject(holder.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    HANDLE process = holder.Process();
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    holder.Stop();
    EXPECT_EQ(WaitForSingleObject(copy, 1000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(copy);
}

TEST(HolderProcess, GivesUpOnSomethingItCannotHold) {
    HolderProcess holder({"--folder", "Q:\\no\\such\\folder"});
    EXPECT_FALSE(holder.Started());
}

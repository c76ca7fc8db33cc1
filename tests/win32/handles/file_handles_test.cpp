#include "sysinfo/win32/file_handles.h"

#include <gtest/gtest.h>

#include <string>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_snapshot.h"

using namespace vesperlin::win32;
using vesperlin::SilentMessages;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::TempFolder;

TEST(FileHandleSnapshot, VisitsEveryFileHandleInTableOrderWithItsName) {
    TempFolder folder;
    const std::string first = folder.MakeFile("first.txt");
    const std::string second = folder.MakeFile("second.txt");
    HolderProcess holder({"--file", first, "--file", second, "--event", "vesperlin-fh-event"});
    ASSERT_TRUE(holder.Started());
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    ASSERT_NE(snapshot, nullptr);

    std::size_t visited = 0;
    int firstAt = -1, secondAt = -1;
    snapshot->VisitNames([&](vesperlin::ProcessId owner, bool named, const std::string& name) {
        if (owner == holder.Id() && named) {
            if (NamesDiskPath(name, first)) firstAt = static_cast<int>(visited);
            if (NamesDiskPath(name, second)) secondAt = static_cast<int>(visited);
        }
        ++visited;
        return true;
    });
    EXPECT_EQ(visited, snapshot->Count());
    ASSERT_GE(firstAt, 0);
    ASSERT_GE(secondAt, 0);
    // The holder opens them in this order, so the table lists them in this order.
    EXPECT_LT(firstAt, secondAt);
}

TEST(FileHandleSnapshot, StopsAsSoonAsTheVisitorSaysSo) {
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    ASSERT_GT(snapshot->Count(), 1u);
    int calls = 0;
    snapshot->VisitNames([&](vesperlin::ProcessId, bool, const std::string&) {
        ++calls;
        return false;
    });
    EXPECT_EQ(calls, 1);
}

TEST(FileHandleSnapshot, IsEmptyWhenTheTableCannotBeRead) {
    vesperlin::testing::NtApiRestorer restorer;
    NtApi.NtQuerySystemInformation = [](ULONG, PVOID, ULONG, PULONG) -> NTSTATUS {
        return static_cast<NTSTATUS>(0xC0000022L);
    };
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    ASSERT_NE(snapshot, nullptr);
    EXPECT_EQ(snapshot->Count(), 0u);
    int calls = 0;
    snapshot->VisitNames([&](vesperlin::ProcessId, bool, const std::string&) {
        ++calls;
        return true;
    });
    EXPECT_EQ(calls, 0);
}

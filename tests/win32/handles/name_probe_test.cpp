#include "sysinfo/win32/name_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/handle_snapshot.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::testing::HolderProcess;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::ObjectQueryCounter;
using vesperlin::testing::OwnHandleCount;
using vesperlin::testing::OwnThreadCount;
using vesperlin::testing::ScriptedThreads;
using vesperlin::testing::TempFolder;

namespace {

// Our handle count once it is back at `expected`, or after 5 s whatever it is then. A probe
// returns once its item is decided: a copy handed to another worker to close may still be
// closed a moment later, and on a loaded machine that moment is long enough to be counted.
std::size_t OwnHandleCountSettlingAt(std::size_t expected) {
    std::size_t count = OwnHandleCount();
    for (int waited = 0; count != expected && waited < 500; ++waited) {
        Sleep(10);
        count = OwnHandleCount();
    }
    return count;
}

class NameProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        file = folder.MakeFile("probed.txt");
        handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }

    TempFolder folder;
    std::string file;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(NameProbe, GivesABlockedFileAnEmptyNameAfterTheTimeLimitWithoutANameQuery) {
    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);
    vesperlin::testing::InstallBlockingFileNameQuery();
    const HandlePassCounters before = handlePassCounters;

    std::string name = "unchanged";
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(ResolveHandleName(handle, name, GetCurrentProcessId()));
    const ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_EQ(name, "");
    EXPECT_EQ(ObjectQueryCounter::nameQueries.load(), 0);
    EXPECT_EQ(handlePassCounters.probeTimeouts, before.probeTimeouts + 1);
    // A sanity check that the limit was waited for and not much longer, not a timing goal.
    EXPECT_GE(elapsed, 80u);
    EXPECT_LT(elapsed, 3000u);
}

TEST_F(NameProbe, NamesAFileWhoseProbeFinishesWithinTheLimit) {
    NtApiRestorer restorer;
    vesperlin::testing::InstallSlowFileNameQuery();
    const HandlePassCounters before = handlePassCounters;
    EXPECT_EQ(ProbeFileName(handle, GetCurrentProcessId()), ProbeOutcome::Finished);
    std::string name;
    EXPECT_TRUE(ResolveHandleName(handle, name, GetCurrentProcessId()));
    EXPECT_TRUE(NamesDiskPath(name, file)) << name;
    EXPECT_EQ(handlePassCounters.probeTimeouts, before.probeTimeouts);
}

TEST_F(NameProbe, StaysHealthyThroughManyTimeOutsInARow) {
    NtApiRestorer restorer;
    vesperlin::testing::InstallBlockingFileNameQuery();
    // One probe first, so that whatever the runtime sets up once is not counted as a leak.
    EXPECT_EQ(ProbeFileName(handle, GetCurrentProcessId()), ProbeOutcome::TimedOut);
    const std::size_t handles = OwnHandleCount();
    ASSERT_GT(handles, 0u);  // the counter itself works
    const std::size_t threads = OwnThreadCount();
    for (int i = 0; i < 30; ++i) {
        std::string name = "unchanged";
        ASSERT_TRUE(QueryHandleName(handle, FileTypeNumber, name, GetCurrentProcessId()));
        EXPECT_EQ(name, "");
    }
    EXPECT_EQ(OwnHandleCountSettlingAt(handles), handles);
    EXPECT_EQ(OwnThreadCount(), threads);
    // The probed handle survived every termination.
    EXPECT_NE(GetFileType(handle), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
}

TEST_F(NameProbe, ProbesAHandleOfAnotherProcessAndClosesTheCopy) {
    HolderProcess holder({"--file", file});
    ASSERT_TRUE(holder.Started());
    HandleSnapshot files(holder.Id(), true, "File");
    ASSERT_FALSE(files.Entries().empty());
    NtApiRestorer restorer;
    vesperlin::testing::InstallBlockingFileNameQuery();
    const std::size_t handles = OwnHandleCount();
    ASSERT_GT(handles, 0u);  // the counter itself works
    for (const HandleEntry& entry : files.Entries())
        EXPECT_EQ(ProbeFileName(entry.HandleValue, entry.ProcessId), ProbeOutcome::TimedOut);
    EXPECT_EQ(OwnHandleCountSettlingAt(handles), handles);
}

TEST_F(NameProbe, DoesNotRunForAnOwnerThatCannotBeOpened) {
    const DWORD gone = 0x7FFFFFF0;  // no process has this identifier
    const HandlePassCounters before = handlePassCounters;
    EXPECT_EQ(ProbeFileName(handle, gone), ProbeOutcome::NotRun);
    EXPECT_EQ(handlePassCounters.threadsCreated, before.threadsCreated);
}

TEST_F(NameProbe, AsksNothingOnTheCallersThreadWhenNoWorkerCanBeStarted) {
    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);
    ScriptedThreads threads;
    threads.FailCreationAfter(0);
    std::string name = "unchanged";
    EXPECT_FALSE(ResolveHandleName(handle, name, GetCurrentProcessId()));
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(ProbeFileName(handle, GetCurrentProcessId()), ProbeOutcome::NotRun);
    EXPECT_EQ(ObjectQueryCounter::nameQueries.load(), 0);
}

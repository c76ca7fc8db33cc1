#include "sysinfo/win32/probe_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_access.h"

using namespace vesperlin::win32;
using vesperlin::testing::MarkedFileBlocker;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::OwnHandleCount;
using vesperlin::testing::OwnThreadCount;
using vesperlin::testing::TempFolder;

namespace {

// Files of our own, some of them named so that their probe hangs.
class ProbePoolTest : public ::testing::Test {
  protected:
    void Open(const std::string& name) {
        const std::string path = folder.MakeFile(name);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        handles.push_back(file);
    }
    // `pattern`: 'b' for a blocked file, '.' for a normal one.
    void OpenPattern(const std::string& pattern) {
        for (std::size_t i = 0; i < pattern.size(); ++i)
            Open((pattern[i] == 'b' ? "blocked-" : "normal-") + std::to_string(i) + ".txt");
    }
    void TearDown() override {
        for (HANDLE handle : handles) CloseHandle(handle);
    }

    TempFolder folder;
    std::vector<HANDLE> handles;
};

}  // namespace

TEST_F(ProbePoolTest, TimesOutOnlyTheHungProbesAndFinishesTheRestInAnyOrderOfAsking) {
    OpenPattern(".b..b.....bb..");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    const HandlePassCounters before = handlePassCounters;
    {
        ProbePool pool(handles);
        // Asked out of order: the answers do not depend on it.
        for (std::size_t i = handles.size(); i-- > 0;) {
            const bool blocked = i == 1 || i == 4 || i == 10 || i == 11;
            EXPECT_EQ(pool.Await(i), blocked ? ProbeOutcome::TimedOut : ProbeOutcome::Finished)
                << "handle " << i;
            EXPECT_EQ(pool.Await(i), pool.Await(i));  // an answer, once given, stays
        }
    }
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 4);
    EXPECT_EQ(handlePassCounters.probeTimeouts - before.probeTimeouts, 4u);
    // A thread only replaces one that was ended for hanging.
    EXPECT_LE(handlePassCounters.threadsCreated - before.threadsCreated, 4u + ProbePoolSize);
}

TEST_F(ProbePoolTest, RunsHungProbesSideBySideNotOneAfterAnother) {
    OpenPattern("bbb.bb");  // hung handles next to each other, as one process's pipes are
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    ProbePool pool(handles);
    for (std::size_t i = 0; i < handles.size(); ++i) pool.Await(i);
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 5);
    // Four workers take the first four hung handles together, a replacement the fifth.
    int together = 0;
    for (int i = 0; i < 5; ++i)
        together += MarkedFileBlocker::hungAt[i] - MarkedFileBlocker::hungAt[0] < ProbeTimeLimitMs;
    EXPECT_GE(together, static_cast<int>(ProbePoolSize));
}

TEST_F(ProbePoolTest, EndsEveryWorkerAndLeaksNothingWhenLeftEarly) {
    OpenPattern("..b.b..b");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    { ProbePool warmUp(handles); }  // whatever the runtime sets up once is not a leak
    const std::size_t ownHandles = OwnHandleCount();
    ASSERT_GT(ownHandles, 0u);  // the counter itself works
    const std::size_t threads = OwnThreadCount();
    for (int round = 0; round < 10; ++round) {
        ProbePool pool(handles);
        pool.Await(round % 2 == 0 ? 0 : 3);  // then leave with probes still hanging
    }
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(OwnThreadCount(), threads);
    for (HANDLE handle : handles)
        EXPECT_NE(GetFileType(handle), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
}

TEST_F(ProbePoolTest, AnswersNotRunWhenTheNativeInterfaceIsMissing) {
    OpenPattern("..");
    const bool bound = ntApiBound;
    ntApiBound = false;
    const HandlePassCounters before = handlePassCounters;
    {
        ProbePool pool(handles);
        EXPECT_EQ(pool.Await(0), ProbeOutcome::NotRun);
        EXPECT_EQ(pool.Await(5), ProbeOutcome::NotRun);  // no such handle
    }
    ntApiBound = bound;
    EXPECT_EQ(handlePassCounters.threadsCreated, before.threadsCreated);
}

TEST_F(ProbePoolTest, AnswersForLaterHandlesWhileAnEarlierProbeStillHangs) {
    OpenPattern("b..");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    ProbePool pool(handles);
    ProbeOutcome outcome = ProbeOutcome::NotRun;
    const ULONGLONG start = GetTickCount64();
    while (!pool.Poll(2, outcome) && GetTickCount64() - start < 5000) Sleep(1);
    EXPECT_EQ(outcome, ProbeOutcome::Finished);
    // The hung probe has not had its time yet, and asking does not wait for it.
    if (GetTickCount64() - start < ProbeTimeLimitMs / 2) {
        EXPECT_FALSE(pool.Poll(0, outcome));
    }
    EXPECT_EQ(pool.Await(0), ProbeOutcome::TimedOut);
    EXPECT_TRUE(pool.Poll(0, outcome));
    EXPECT_EQ(outcome, ProbeOutcome::TimedOut);
}

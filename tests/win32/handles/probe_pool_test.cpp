#include "sysinfo/win32/probe_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/nt_api.h"

using namespace vesperlin::win32;
using vesperlin::NameTailFilter;
using vesperlin::testing::DeviceFormOf;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::MarkedFileBlocker;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::ObjectQueryCounter;
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

namespace {

// A helper process's file handles, ready for a naming pool.
class NamingPoolTest : public ::testing::Test {
  protected:
    void Hold(const std::vector<std::string>& names) {
        std::vector<std::string> options;
        for (const std::string& name : names) {
            paths.push_back(folder.MakeFile(name));
            options.push_back("--file");
            options.push_back(paths.back());
        }
        holder = std::make_unique<HolderProcess>(options);
        ASSERT_TRUE(holder->Started());
        owner = OpenProcessForDuplicate(holder->Id());
        ASSERT_NE(owner, nullptr);
        HandleSnapshot files(holder->Id(), true, "File");
        for (const HandleEntry& entry : files.Entries())
            items.push_back({owner, entry.HandleValue});
        ASSERT_GE(items.size(), names.size());
    }
    void TearDown() override {
        if (owner) CloseHandle(owner);
    }
    // Which of `paths` each item was named as (-1: none of them), and whether it was named.
    std::vector<int> Names(ProbePool& pool, std::vector<bool>* named = nullptr) {
        std::vector<int> which;
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::string name = "unchanged";
            const bool ok = pool.TakeName(i, name);
            if (named) named->push_back(ok);
            int found = -1;
            for (std::size_t p = 0; p < paths.size(); ++p)
                if (ok && NamesDiskPath(name, paths[p])) found = static_cast<int>(p);
            which.push_back(found);
        }
        return which;
    }
    static int Count(const std::vector<int>& which, int value) {
        return static_cast<int>(std::count(which.begin(), which.end(), value));
    }

    TempFolder folder;
    std::vector<std::string> paths;
    std::unique_ptr<HolderProcess> holder;
    HANDLE owner = nullptr;
    std::vector<ProbeItem> items;
};

}  // namespace

TEST_F(NamingPoolTest, NamesEveryHandleOfAnotherProcessAndClosesEveryCopy) {
    Hold({"one.txt", "two.txt", "three.txt"});
    { ProbePool warmUp(items); }  // whatever the runtime sets up once is not a leak
    const std::size_t ownHandles = OwnHandleCount();
    const HandlePassCounters before = handlePassCounters;
    std::vector<int> which;
    {
        ProbePool pool(items);
        which = Names(pool);
    }
    for (int p = 0; p < 3; ++p) EXPECT_EQ(Count(which, p), 1) << paths[p];
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(handlePassCounters.handlesCopied - before.handlesCopied, items.size());
    EXPECT_LE(handlePassCounters.threadsCreated - before.threadsCreated, ProbePoolSize);
}

TEST_F(NamingPoolTest, LeavesNamesTooLongForAWorkerToTheCallerAndStillClosesEveryCopy) {
    Hold({"long-one.txt", "long-two.txt"});
    { ProbePool warmUp(items); }
    const std::size_t ownHandles = OwnHandleCount();
    NtApiRestorer restorer;
    vesperlin::testing::InstallLargeReplyOnlyNameQuery(restorer);
    std::vector<int> which;
    {
        ProbePool pool(items);
        which = Names(pool);
    }
    EXPECT_EQ(Count(which, 0), 1);
    EXPECT_EQ(Count(which, 1), 1);
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    // Left early, the copies kept open for the caller are closed all the same.
    {
        ProbePool pool(items);
        pool.Await(0);
    }
    EXPECT_EQ(OwnHandleCount(), ownHandles);
}

TEST_F(NamingPoolTest, NamesOnlyWhatTheFilterAdmitsAndAsksNoOtherName) {
    Hold({"skip-a.txt", "wanted.txt", "skip-b.txt"});
    std::vector<std::u16string> looked;
    for (const std::string& form : {"\\??\\" + paths[1], DeviceFormOf(paths[1])}) {
        const std::wstring wide(form.begin(), form.end());  // the test folder's path is ASCII
        looked.emplace_back(wide.begin(), wide.end());
    }
    const NameTailFilter filter(looked);
    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);
    std::vector<bool> named;
    std::vector<int> which;
    {
        ProbePool pool(items, &filter);
        which = Names(pool, &named);
    }
    EXPECT_EQ(Count(which, 1), 1);
    EXPECT_EQ(Count(which, 0) + Count(which, 2), 0);
    // The two other files were turned away by their probed path, without a name query.
    EXPECT_GE(ObjectQueryCounter::nameQueries, 1);
    EXPECT_LE(ObjectQueryCounter::nameQueries, static_cast<int>(items.size()) - 2);
    EXPECT_LE(std::count(named.begin(), named.end(), true),
              static_cast<std::ptrdiff_t>(items.size()) - 2);
}

TEST_F(NamingPoolTest, GivesAHungHandleTheEmptyNameAndOneThatCannotBeCopiedNone) {
    Hold({"blocked-pool.txt", "fine.txt"});
    items.push_back({owner, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0xFFF0))});
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    const std::size_t ownHandles = OwnHandleCount();
    const std::size_t threads = OwnThreadCount();
    std::vector<bool> named;
    std::vector<int> which;
    {
        ProbePool pool(items);
        which = Names(pool, &named);
    }
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 1);
    EXPECT_EQ(Count(which, 1), 1);  // the fine one
    EXPECT_EQ(Count(which, 0), 0);  // the hung one has the empty name...
    EXPECT_FALSE(named.back());     // ...and the one that cannot be copied none at all
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(OwnThreadCount(), threads);
}

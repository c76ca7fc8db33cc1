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
#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/nt_api.h"

using namespace vesperlin::base;
using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::sysinfo::NameTailFilter;
using vesperlin::testing::DeviceFormOf;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::MarkedFileBlocker;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::ObjectQueryCounter;
using vesperlin::testing::OwnHandleCount;
using vesperlin::testing::OwnThreadCount;
using vesperlin::testing::ScriptedThreads;
using vesperlin::testing::StallWatch;
using vesperlin::testing::StraddlingFileQuery;
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
    std::vector<ProbeItem> Items() const {
        std::vector<ProbeItem> items;
        for (HANDLE handle : handles) items.push_back({nullptr, handle, false});
        return items;
    }
    static ProbePoolOptions Workers(std::size_t workers) {
        ProbePoolOptions options;
        options.workers = workers;
        return options;
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
        ProbePool pool(Items());
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
    ProbePool pool(Items());
    for (std::size_t i = 0; i < handles.size(); ++i) pool.Await(i);
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 5);
    // Four workers take the first four hung handles together, a replacement the fifth.
    int together = 0;
    for (int i = 0; i < 5; ++i)
        together += MarkedFileBlocker::hungAt[i] - MarkedFileBlocker::hungAt[0] < ProbeTimeLimitMs;
    EXPECT_GE(together, static_cast<int>(ProbePoolSize));
}

TEST_F(ProbePoolTest, AnswersNotRunWhenTheNativeInterfaceIsMissing) {
    OpenPattern("..");
    const bool bound = ntApiBound;
    ntApiBound = false;
    const HandlePassCounters before = handlePassCounters;
    {
        ProbePool pool(Items());
        EXPECT_EQ(pool.Await(0), ProbeOutcome::NotRun);
        EXPECT_EQ(pool.Await(5), ProbeOutcome::NotRun);  // no such handle
    }
    ntApiBound = bound;
    EXPECT_EQ(handlePassCounters.threadsCreated, before.threadsCreated);
}

TEST_F(ProbePoolTest, AnswersForLaterHandlesWithoutWaitingForAnEarlierProbeThatStillRuns) {
    OpenPattern("b..");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    // A limit far beyond anything the machine's load can add: until the probe of the first
    // handle is released, it is running, whatever happens meanwhile.
    ProbePoolOptions options;
    options.limitMs = 20000;
    ProbePool pool(Items(), options);
    ProbeOutcome outcome = ProbeOutcome::NotRun;
    while (!pool.Poll(2, outcome) || MarkedFileBlocker::hung.load() == 0) Sleep(1);
    EXPECT_EQ(outcome, ProbeOutcome::Finished);
    // The first is still in its probe: asking answers at once that it is undecided.
    EXPECT_FALSE(pool.Poll(0, outcome));
    MarkedFileBlocker::Release();
    EXPECT_EQ(pool.Await(0), ProbeOutcome::Finished);
    EXPECT_TRUE(pool.Poll(0, outcome));
    EXPECT_EQ(outcome, ProbeOutcome::Finished);
}

// Probes that answer around the time limit end just as their worker is being ended: the
// worker's outcome must come from what it was really doing, or a round stalls on an item no
// worker has and an answer that came in is lost.
TEST_F(ProbePoolTest, ProbesEndingAroundTheLimitNeverStallARoundNorLoseAnAnswerThatCameIn) {
    for (int i = 0; i < 8; ++i) Open("straddle-" + std::to_string(i) + ".txt");
    // Several hundred handles: copies of those eight files.
    while (handles.size() < 320) {
        HANDLE copy = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), handles[handles.size() % 8],
                                    GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
        handles.push_back(copy);
    }
    NtApiRestorer restorer;
    StraddlingFileQuery::Install(restorer, false);
    const int rounds = 6;
    int finished = 0, timedOut = 0;
    StallWatch watch;
    const HandlePassCounters before = handlePassCounters;
    for (int round = 0; round < rounds; ++round) {
        const int firstCall = StraddlingFileQuery::count.load();
        std::vector<ProbeOutcome> outcomes;
        {
            ProbePool pool(Items(), Workers(32));
            for (std::size_t i = 0; i < handles.size(); ++i) {
                watch.Progress(round, i);
                outcomes.push_back(pool.Await(i));
            }
        }
        // Every item was probed once, and answered for.
        const int lastCall = StraddlingFileQuery::count.load();
        ASSERT_LE(lastCall, StraddlingFileQuery::kMostCalls);
        EXPECT_EQ(lastCall - firstCall, static_cast<int>(handles.size()));
        for (std::size_t i = 0; i < handles.size(); ++i) {
            EXPECT_NE(outcomes[i], ProbeOutcome::NotRun) << "round " << round << " row " << i;
            finished += outcomes[i] == ProbeOutcome::Finished;
            if (outcomes[i] != ProbeOutcome::TimedOut) continue;
            ++timedOut;
            // A worker takes its next handle only once its answer is in: a timed-out item's
            // worker must never have gone on to another handle.
            int probe = -1;
            for (int c = firstCall; c < lastCall; ++c)
                if (StraddlingFileQuery::calls[c].handle == handles[i]) probe = c;
            ASSERT_GE(probe, 0);
            const auto& call = StraddlingFileQuery::calls[probe];
            for (int later = probe + 1; later < lastCall; ++later) {
                const auto& next = StraddlingFileQuery::calls[later];
                EXPECT_FALSE(next.thread == call.thread.load() &&
                             next.threadCreated == call.threadCreated.load())
                    << "round " << round << ": row " << i
                    << " was timed out though its worker went on to another handle";
            }
        }
    }
    // Both kinds of answer occurred: the spread really straddles the limit.
    EXPECT_GT(finished, 0);
    EXPECT_GT(timedOut, 0);
    // Every query returned in the end, so a worker told to stop while the pool runs ends itself
    // rather than being terminated (a thread terminated from outside keeps its stack for good
    // under Wine); only those still in a query when a pool ends may be.
    EXPECT_LT(handlePassCounters.threadsTerminated - before.threadsTerminated,
              static_cast<std::size_t>(timedOut) / 4);
}

TEST_F(ProbePoolTest, DecidesAHungItemWithoutWaitingForAnEndThatCannotBeConfirmed) {
    OpenPattern("..b.....");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    ObjectQueryCounter::Install(restorer);
    auto owned = std::make_shared<int>(1);
    std::weak_ptr<int> reachable = owned;
    {
        ScriptedThreads threads;
        threads.NeverConfirmHungThreads();
        ProbePoolOptions options;
        options.naming = true;
        options.keepAlive = std::move(owned);
        ProbePool pool(Items(), options);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(pool.Await(2), ProbeOutcome::TimedOut);
        // A sanity check that the row did not wait for the end that never comes, not a timing
        // goal: the pool waits 5 s for such an end before it gives the worker up.
        EXPECT_LT(GetTickCount64() - start, 2500u);
        std::string name = "unchanged";
        EXPECT_TRUE(pool.TakeName(2, name));
        EXPECT_EQ(name, "");
        for (std::size_t i = 0; i < handles.size(); ++i) {
            if (i == 2) continue;
            name.clear();
            EXPECT_TRUE(pool.TakeName(i, name)) << i;
            EXPECT_NE(name, "") << i;
        }
    }
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 1);
    // Whatever the given-up worker might still reach was never freed, and no name was asked
    // on this thread in its place.
    EXPECT_FALSE(reachable.expired());
    EXPECT_EQ(ObjectQueryCounter::nameQueriesOnInstaller.load(), 0);
    // The next pool works as ever.
    ProbePoolOptions naming;
    naming.naming = true;
    ProbePool next(Items(), naming);
    for (std::size_t i = 0; i < handles.size(); ++i) {
        std::string name;
        EXPECT_TRUE(next.TakeName(i, name));
        EXPECT_EQ(name.empty(), i == 2) << i;
    }
}

TEST_F(ProbePoolTest, ItemsNoThreadCanTakeAreNotRunAndNothingIsAskedOnTheCallersThread) {
    OpenPattern("bb....");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    ObjectQueryCounter::Install(restorer);
    ScriptedThreads threads;
    ProbePoolOptions options;
    options.naming = true;
    {
        threads.FailCreationAfter(0);
        ProbePool pool(Items(), options);
        std::string name = "unchanged";
        EXPECT_FALSE(pool.TakeName(3, name));
        EXPECT_EQ(name, "unchanged");
        EXPECT_EQ(pool.Await(0), ProbeOutcome::NotRun);
    }
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 0);  // nothing was probed at all
    {
        // Two workers hang on the first two items and cannot be replaced: the rest is not run
        // rather than left waiting for a worker forever.
        threads.FailCreationAfter(ScriptedThreads::created.load() + 2);
        ProbePool pool(Items(), options);
        EXPECT_EQ(pool.Await(0), ProbeOutcome::TimedOut);
        EXPECT_EQ(pool.Await(1), ProbeOutcome::TimedOut);
        for (std::size_t i = 2; i < handles.size(); ++i) {
            std::string name = "unchanged";
            const ProbeOutcome outcome = pool.Await(i);
            EXPECT_EQ(pool.TakeName(i, name), outcome == ProbeOutcome::Finished) << i;
        }
    }
    {
        // One worker that can never be replaced still does every item.
        threads.FailCreationAfter(ScriptedThreads::created.load() + 1);
        const std::vector<ProbeItem> all = Items();
        ProbePool pool(std::vector<ProbeItem>(all.begin() + 2, all.end()), options);
        for (std::size_t i = 0; i + 2 < handles.size(); ++i)
            EXPECT_EQ(pool.Await(i), ProbeOutcome::Finished) << i;
    }
    EXPECT_EQ(ObjectQueryCounter::nameQueriesOnInstaller.load(), 0);
}

TEST_F(ProbePoolTest, WithoutItsEventThePoolStillAnswersEveryItem) {
    OpenPattern(".b.b..");
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    ScriptedThreads threads;
    threads.FailEventCreation();
    ProbePool pool(Items());
    for (std::size_t i = 0; i < handles.size(); ++i)
        EXPECT_EQ(pool.Await(i), i == 1 || i == 3 ? ProbeOutcome::TimedOut : ProbeOutcome::Finished)
            << i;
}

TEST_F(ProbePoolTest, ReplacesAWorkerThatEndsWhileStartingAndNeverEndsOneThatIsStarting) {
    OpenPattern("....");
    ScriptedThreads threads;
    {
        // Its only worker ends before it takes anything; a pool of one must not wait forever.
        threads.EndWhileStarting(1);
        ProbePool pool(Items(), Workers(1));
        for (std::size_t i = 0; i < handles.size(); ++i)
            EXPECT_EQ(pool.Await(i), ProbeOutcome::Finished) << i;
    }
    EXPECT_EQ(ScriptedThreads::created.load(), 2);
    {
        // The pool is left while its worker still starts: it is waited for, never ended,
        // since a starting thread may hold the locks every other thread needs.
        threads.EndWhileStarting(0);
        threads.StartSlowly(ScriptedThreads::created.load() + 1, 300);
        const int ran = ScriptedThreads::ranToTheEnd.load();
        {
            ProbePool pool(Items(), Workers(1));
            ProbeOutcome outcome;
            pool.Poll(0, outcome);  // starts the worker
        }
        EXPECT_EQ(ScriptedThreads::ranToTheEnd.load(), ran + 1);
    }
    {
        // A worker slow to start does not hold up the items: another takes them meanwhile.
        threads.StartSlowly(ScriptedThreads::created.load() + 1, 3000);
        const int ran = ScriptedThreads::ranToTheEnd.load();
        const int begun = ScriptedThreads::routinesBegun.load();
        {
            ProbePool pool(Items(), Workers(1));
            for (std::size_t i = 0; i < handles.size(); ++i)
                EXPECT_EQ(pool.Await(i), ProbeOutcome::Finished) << i;
            // Answered by the one started in its place, long before the slow one began.
            EXPECT_EQ(ScriptedThreads::routinesBegun.load(), begun + 1);
        }
        EXPECT_EQ(ScriptedThreads::ranToTheEnd.load(), ran + 2);  // and neither was ended
    }
}

TEST_F(ProbePoolTest, HundredsOfTimeOutsAndGiveUpsLeakNoThreadAndOnlyWhatAGivenUpWorkerHeld) {
    OpenPattern("b.bb.b..bb.b.bbb");  // ten hung, six normal
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    const auto round = [&] {
        ProbePool pool(Items(), Workers(10));
        for (std::size_t i = 0; i < handles.size(); ++i) pool.Await(i);
    };
    round();  // whatever the runtime sets up once is not a leak
    const std::size_t ownHandles = OwnHandleCount();
    ASSERT_GT(ownHandles, 0u);  // the counter itself works
    const std::size_t threads = OwnThreadCount();
    const HandlePassCounters before = handlePassCounters;
    for (int i = 0; i < 20; ++i) round();
    EXPECT_EQ(handlePassCounters.probeTimeouts - before.probeTimeouts, 200u);
    EXPECT_EQ(handlePassCounters.threadsTerminated - before.threadsTerminated, 200u);
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(OwnThreadCount(), threads);
    // Pools that give up a worker whose end cannot be confirmed leave what that worker might
    // still use: of our handles, only the one event it may signal.
    const int giveUps = 5;
    {
        ScriptedThreads scripted;
        scripted.NeverConfirmHungThreads();
        for (int i = 0; i < giveUps; ++i) round();
    }
    EXPECT_EQ(OwnHandleCount(), ownHandles + giveUps);
    EXPECT_EQ(OwnThreadCount(), threads);  // the scripted ones really ended
    for (HANDLE handle : handles)
        EXPECT_NE(GetFileType(handle), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
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
        ASSERT_TRUE(owner);
        HandleSnapshot files(holder->Id(), true, "File");
        for (const HandleEntry& entry : files.Entries())
            items.push_back({owner.get(), entry.HandleValue, false});
        ASSERT_GE(items.size(), names.size());
    }
    void TearDown() override { owner.reset(); }
    static ProbePoolOptions Naming(std::shared_ptr<const NameTailFilter> filter = nullptr) {
        ProbePoolOptions options;
        options.naming = true;
        options.filter = std::move(filter);
        return options;
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
    vesperlin::base::UniqueProcess owner;
    std::vector<ProbeItem> items;
};

}  // namespace

TEST_F(NamingPoolTest, NamesEveryHandleOfAnotherProcessAndClosesEveryCopy) {
    Hold({"one.txt", "two.txt", "three.txt"});
    { ProbePool warmUp(items, Naming()); }  // whatever the runtime sets up once is not a leak
    const std::size_t ownHandles = OwnHandleCount();
    const HandlePassCounters before = handlePassCounters;
    std::vector<int> which;
    {
        ProbePool pool(items, Naming());
        which = Names(pool);
    }
    for (int p = 0; p < 3; ++p) EXPECT_EQ(Count(which, p), 1) << paths[p];
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(handlePassCounters.handlesCopied - before.handlesCopied, items.size());
    EXPECT_LE(handlePassCounters.threadsCreated - before.threadsCreated, ProbePoolSize);
}

TEST_F(NamingPoolTest, NamesTooLongForAWorkersReplyAreAskedAgainOnAWorkerNeverOnTheCaller) {
    Hold({"long-one.txt", "long-two.txt"});
    { ProbePool warmUp(items, Naming()); }
    const std::size_t ownHandles = OwnHandleCount();
    NtApiRestorer restorer;
    // Longer than a worker's reply, but a name a counted string can hold.
    vesperlin::testing::InstallLargeReplyOnlyNameQuery(restorer, 40 * 1024);
    std::vector<int> which;
    {
        ProbePool pool(items, Naming());
        which = Names(pool);
    }
    EXPECT_EQ(Count(which, 0), 1);
    EXPECT_EQ(Count(which, 1), 1);
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    // Left early, the copies kept open to be asked again are closed all the same.
    {
        ProbePool pool(items, Naming());
        pool.Await(0);
    }
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    // A reply no name can need is not a name: none, and none asked here instead.
    vesperlin::testing::InstallLargeReplyOnlyNameQuery(restorer, 1024 * 1024);
    std::vector<bool> named;
    {
        ProbePool pool(items, Naming());
        Names(pool, &named);
    }
    EXPECT_EQ(std::count(named.begin(), named.end(), true), 0);
    EXPECT_GT(ObjectQueryCounter::nameQueries.load(), 0);
    EXPECT_EQ(ObjectQueryCounter::nameQueriesOnInstaller.load(), 0);
    EXPECT_EQ(OwnHandleCount(), ownHandles);
}

TEST_F(NamingPoolTest, NamesOnlyWhatTheFilterAdmitsAndAsksNoOtherName) {
    Hold({"skip-a.txt", "wanted.txt", "skip-b.txt"});
    std::vector<std::u16string> looked;
    for (const std::string& form : {"\\??\\" + paths[1], DeviceFormOf(paths[1])}) {
        const std::wstring wide(form.begin(), form.end());  // the test folder's path is ASCII
        looked.emplace_back(wide.begin(), wide.end());
    }
    const auto filter = std::make_shared<const NameTailFilter>(looked);
    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);
    std::vector<bool> named;
    std::vector<int> which;
    {
        ProbePool pool(items, Naming(filter));
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
    items.push_back({owner.get(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0xFFF0)), false});
    NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    const std::size_t ownHandles = OwnHandleCount();
    const std::size_t threads = OwnThreadCount();
    std::vector<bool> named;
    std::vector<int> which;
    {
        ProbePool pool(items, Naming());
        which = Names(pool, &named);
    }
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 1);
    EXPECT_EQ(Count(which, 1), 1);  // the fine one
    EXPECT_EQ(Count(which, 0), 0);  // the hung one has the empty name...
    EXPECT_FALSE(named.back());     // ...and the one that cannot be copied none at all
    // Its copy, left open by the ended worker, was closed too (by another worker).
    EXPECT_EQ(OwnHandleCount(), ownHandles);
    EXPECT_EQ(OwnThreadCount(), threads);
}

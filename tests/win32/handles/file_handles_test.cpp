#include "sysinfo/win32/file_handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "scripted_nt_api.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/probe_pool.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::sysinfo::SilentMessages;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::MarkedFileBlocker;
using vesperlin::testing::NamesDiskPath;
using vesperlin::testing::OwnHandleCount;
using vesperlin::testing::OwnThreadCount;
using vesperlin::testing::StallWatch;
using vesperlin::testing::StraddlingFileQuery;
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
    snapshot->VisitNames(
        [&](vesperlin::sysinfo::ProcessId owner, bool named, const std::string& name) {
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
    snapshot->VisitNames([&](vesperlin::sysinfo::ProcessId, bool, const std::string&) {
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
    snapshot->VisitNames([&](vesperlin::sysinfo::ProcessId, bool, const std::string&) {
        ++calls;
        return true;
    });
    EXPECT_EQ(calls, 0);
}

namespace {

struct Row {
    bool named;
    std::string name;
    bool operator==(const Row&) const = default;
};

std::vector<Row> VisitOwner(vesperlin::sysinfo::FileHandleSnapshot& snapshot, DWORD owner) {
    std::vector<Row> rows;
    snapshot.VisitNames(
        [&](vesperlin::sysinfo::ProcessId processId, bool named, const std::string& name) {
            if (processId == owner) rows.push_back({named, name});
            return true;
        });
    return rows;
}

}  // namespace

TEST(FileHandleSnapshot, NamesTheSameRowsAsResolvingEachHandleOnItsOwn) {
    TempFolder folder;
    HolderProcess holder({"--file", folder.MakeFile("a.txt"), "--folder", folder.MakeSubfolder("b"),
                          "--blocked-pipe", "vesperlin-fh-same", "--file", folder.MakeFile("c.txt"),
                          "--self-handles", "--key"});
    ASSERT_TRUE(holder.Started());
    std::vector<Row> oneByOne;
    HandleSnapshot files(holder.Id(), true, "File");
    for (const HandleEntry& entry : files.Entries()) {
        Row row{false, ""};
        row.named = ResolveHandleName(entry.HandleValue, row.name, entry.ProcessId);
        if (!row.named) row.name.clear();
        oneByOne.push_back(row);
    }
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    EXPECT_EQ(VisitOwner(*snapshot, holder.Id()), oneByOne);
    EXPECT_GE(oneByOne.size(), 5u);  // two files, a folder, both ends of the pipe
}

TEST(FileHandleSnapshot, OpensEachOwnerOnceAndCopiesOnlyFileHandlesOnce) {
    TempFolder folder;
    std::vector<std::string> options;
    for (int i = 0; i < 30; ++i) {
        options.push_back("--file");
        options.push_back(folder.MakeFile("many-" + std::to_string(i) + ".txt"));
    }
    options.push_back("--self-handles");
    options.push_back("--key");
    HolderProcess first(options), second(options);
    ASSERT_TRUE(first.Started() && second.Started());

    std::vector<HandleEntry> table;
    ASSERT_TRUE(ReadSystemHandleTable(table));
    std::set<DWORD> owners;
    std::set<USHORT> typeIndexes;
    for (const HandleEntry& row : table) {
        if (row.ProcessId != GetCurrentProcessId()) owners.insert(row.ProcessId);
        typeIndexes.insert(row.ObjectTypeIndex);
    }

    const HandlePassCounters before = handlePassCounters;
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    std::size_t foreignRows = 0, visited = 0;
    snapshot->VisitNames([&](vesperlin::sysinfo::ProcessId processId, bool, const std::string&) {
        foreignRows += processId != GetCurrentProcessId();
        ++visited;
        return true;
    });
    EXPECT_EQ(visited, snapshot->Count());
    EXPECT_GE(foreignRows, 60u);
    // Processes of other tests may come and go meanwhile: count the owners of a reading made
    // before the snapshot's and of one made after it.
    ASSERT_TRUE(ReadSystemHandleTable(table));
    for (const HandleEntry& row : table)
        if (row.ProcessId != GetCurrentProcessId()) owners.insert(row.ProcessId);
    EXPECT_LE(handlePassCounters.processesOpened - before.processesOpened, owners.size() + 2);
    // Each file handle once, plus at most a couple per type index to learn its name.
    EXPECT_LE(handlePassCounters.handlesCopied - before.handlesCopied,
              foreignRows + 2 * typeIndexes.size());
    EXPECT_LE(handlePassCounters.threadsCreated - before.threadsCreated, HandlePassThreads);
}

TEST(FileHandleSnapshot, BlockedHandlesOfSeveralProcessesCostAboutOneTimeOutTogether) {
    TempFolder folder;
    std::vector<std::unique_ptr<HolderProcess>> holders;
    for (int i = 0; i < 3; ++i) {
        holders.push_back(std::make_unique<HolderProcess>(std::vector<std::string>{
            "--file", folder.MakeFile("named-" + std::to_string(i) + ".txt"), "--file",
            folder.MakeFile("blocked-" + std::to_string(i) + ".txt")}));
        ASSERT_TRUE(holders.back()->Started());
    }
    vesperlin::testing::NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    const HandlePassCounters before = handlePassCounters;
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    // Our own files only: tests running beside this one hold files of the same names.
    const std::string ownFolder = folder.Path().substr(folder.Path().find_last_of('\\'));
    int namedOnes = 0;
    snapshot->VisitNames([&](vesperlin::sysinfo::ProcessId, bool named, const std::string& name) {
        namedOnes += named && name.find("\\named-") != std::string::npos &&
                     name.find(ownFolder) != std::string::npos;
        return true;
    });
    EXPECT_EQ(namedOnes, 3);
    EXPECT_EQ(MarkedFileBlocker::hung.load(), 3);
    EXPECT_EQ(handlePassCounters.probeTimeouts - before.probeTimeouts, 3u);
    // All three hung at once rather than one after another: one after another, the third
    // would start at least two time limits after the first.
    EXPECT_LT(MarkedFileBlocker::HangSpread(), 2 * ProbeTimeLimitMs);
}

TEST(FileHandleSnapshot, ManySnapshotsWithBlockedHandlesLeakNoThreadOrHandle) {
    TempFolder folder;
    HolderProcess holder({"--file", folder.MakeFile("blocked-leak.txt"), "--blocked-pipe",
                          "vesperlin-fh-leak", "--file", folder.MakeFile("plain.txt")});
    ASSERT_TRUE(holder.Started());
    vesperlin::testing::NtApiRestorer restorer;
    MarkedFileBlocker::Install(restorer);
    SilentMessages messages;
    const auto visitAll = [&](bool stopEarly) {
        auto snapshot = TakeFileHandleSnapshot(messages);
        snapshot->VisitNames(
            [&](vesperlin::sysinfo::ProcessId, bool, const std::string&) { return !stopEarly; });
    };
    visitAll(false);  // whatever the runtime sets up once is not a leak
    const std::size_t handles = OwnHandleCount();
    ASSERT_GT(handles, 0u);  // the counter itself works
    const std::size_t threads = OwnThreadCount();
    for (int round = 0; round < 8; ++round) visitAll(round % 2 == 1);
    EXPECT_EQ(OwnHandleCount(), handles);
    EXPECT_EQ(OwnThreadCount(), threads);
}

TEST(FileHandleSnapshot, OnceLimitedNamesTheLookedForFileAndLeavesItsNeighboursUnnamed) {
    TempFolder folder;
    const std::string before = folder.MakeFile("before.txt");
    const std::string wanted = folder.MakeFile("wanted.txt");
    const std::string after = folder.MakeFile("after.txt");
    HolderProcess holder({"--file", before, "--file", wanted, "--file", after});
    ASSERT_TRUE(holder.Started());
    SilentMessages messages;
    auto snapshot = TakeFileHandleSnapshot(messages);
    snapshot->LimitNamesTo({{vesperlin::testing::DeviceFormOf(wanted), wanted}});
    int wantedRows = 0, neighbourRows = 0;
    std::size_t named = 0;
    snapshot->VisitNames(
        [&](vesperlin::sysinfo::ProcessId owner, bool isNamed, const std::string& name) {
            named += isNamed;
            if (owner == holder.Id() && isNamed) {
                wantedRows += NamesDiskPath(name, wanted);
                neighbourRows += NamesDiskPath(name, before) || NamesDiskPath(name, after);
            }
            return true;
        });
    EXPECT_EQ(wantedRows, 1);
    EXPECT_EQ(neighbourRows, 0);
    EXPECT_LT(named, snapshot->Count());
}

TEST(FileHandleSnapshot, VisitsEveryRowInTableOrderWhileProbesEndAroundTheLimit) {
    TempFolder folder;
    std::vector<std::string> options, paths;
    for (int i = 0; i < 60; ++i) {
        paths.push_back(folder.MakeFile("slow-" + std::to_string(100 + i) + ".txt"));
        options.push_back("--file");
        options.push_back(paths.back());
    }
    HolderProcess holder(options);
    ASSERT_TRUE(holder.Started());
    SilentMessages messages;
    // Which of the holder's files each of its rows names, in visit order (-1: another file),
    // and how many of its rows have the empty name.
    struct Visit {
        std::size_t rows = 0, count = 0;
        std::vector<int> files;
        int empty = 0;
    };
    const auto visitAll = [&](StallWatch* watch, int round) {
        Visit seen;
        auto snapshot = TakeFileHandleSnapshot(messages);
        seen.count = snapshot->Count();
        snapshot->VisitNames(
            [&](vesperlin::sysinfo::ProcessId owner, bool named, const std::string& name) {
                if (watch) watch->Progress(round, seen.rows);
                ++seen.rows;
                if (owner != holder.Id() || !named) return true;
                if (name.empty()) ++seen.empty;
                for (std::size_t p = 0; p < paths.size(); ++p)
                    if (NamesDiskPath(name, paths[p])) seen.files.push_back(static_cast<int>(p));
                return true;
            });
        return seen;
    };
    const Visit plain = visitAll(nullptr, 0);
    ASSERT_EQ(plain.files.size(), paths.size());

    vesperlin::testing::NtApiRestorer restorer;
    StraddlingFileQuery::Install(restorer, true);
    StallWatch watch;
    for (int round = 0; round < 2; ++round) {
        const int firstCall = StraddlingFileQuery::count.load();
        const Visit seen = visitAll(&watch, round);
        const int lastCall = StraddlingFileQuery::count.load();
        EXPECT_EQ(seen.rows, seen.count);
        // The holder opened its files in this order, so the table lists them in it.
        EXPECT_TRUE(std::is_sorted(seen.files.begin(), seen.files.end()));
        // Every file was visited: named, or timed out with the empty name.
        const int timedOut = seen.empty - plain.empty;
        EXPECT_EQ(static_cast<int>(seen.files.size()) + timedOut, static_cast<int>(paths.size()));
        // A timed-out row's worker never went on to another handle, so each one is the last
        // probe of its thread.
        int lastOfTheirThread = 0;
        for (int c = firstCall; c < lastCall; ++c) {
            bool wentOn = false;
            for (int later = c + 1; later < lastCall; ++later)
                wentOn |= StraddlingFileQuery::calls[later].thread ==
                              StraddlingFileQuery::calls[c].thread.load() &&
                          StraddlingFileQuery::calls[later].threadCreated ==
                              StraddlingFileQuery::calls[c].threadCreated.load();
            lastOfTheirThread += !wentOn;
        }
        EXPECT_LE(timedOut, lastOfTheirThread);
        EXPECT_GT(timedOut, 0);  // the spread really straddles the limit
    }
}

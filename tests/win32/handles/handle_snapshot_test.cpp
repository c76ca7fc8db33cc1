#include "sysinfo/win32/handle_snapshot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "scripted_nt_api.h"
#include "sysinfo/win32/native_definitions.h"
#include "support/holder_process.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/object_types.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::win32;

using vesperlin::testing::HolderProcess;
using vesperlin::testing::NtApiRestorer;
using vesperlin::testing::ObjectQueryCounter;
using vesperlin::testing::TempFolder;

namespace {

std::size_t CountOfType(const std::vector<HandleEntry>& rows, const std::string& type) {
    std::size_t count = 0;
    for (const HandleEntry& row : rows) {
        std::string name;
        if (QueryObjectTypeName(row.HandleValue, name, row.ProcessId) && name == type) ++count;
    }
    return count;
}

// A scripted handle table: the calls are answered from a list, then by the real entry.
struct TableScript {
    static inline std::vector<ULONG> reportedLengths;  // answered with a length mismatch
    static inline bool alwaysTooSmall = false;
    static inline NTSTATUS failure = 0;
    static inline std::vector<SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX> rows;
    static inline ULONG_PTR claimedCount = 0;
    static inline int calls = 0;
    static inline std::vector<ULONG> passedLengths;
    static inline NtQuerySystemInformationFn real = nullptr;

    static void Install(const NtApiRestorer& restorer) {
        reportedLengths.clear();
        alwaysTooSmall = false;
        failure = 0;
        rows.clear();
        claimedCount = 0;
        calls = 0;
        passedLengths.clear();
        real = restorer.Real().NtQuerySystemInformation;
        NtApi.NtQuerySystemInformation = Answer;
    }

    static NTSTATUS NTAPI Answer(ULONG infoClass, PVOID buffer, ULONG length, PULONG needed) {
        ++calls;
        passedLengths.push_back(length);
        if (alwaysTooSmall) {
            if (needed) *needed = length + 40;
            return kStatusInfoLengthMismatch;
        }
        if (failure != 0) return failure;
        if (static_cast<std::size_t>(calls) <= reportedLengths.size()) {
            if (needed) *needed = reportedLengths[calls - 1];
            return kStatusInfoLengthMismatch;
        }
        if (!rows.empty() || claimedCount != 0) {
            auto* bytes = static_cast<unsigned char*>(buffer);
            const ULONG_PTR count = claimedCount ? claimedCount : rows.size();
            std::memcpy(bytes, &count, sizeof(count));
            for (std::size_t i = 0; i < rows.size(); ++i)
                std::memcpy(bytes + 16 + i * sizeof(rows[i]), &rows[i], sizeof(rows[i]));
            return 0;
        }
        return real(infoClass, buffer, length, needed);
    }
};

}  // namespace

TEST(HandleSnapshot, FileFilterKeepsExactlyTheFileHandlesOfTheOwner) {
    TempFolder folder;
    const std::string file = folder.MakeFile("kept.txt");
    const std::string sub = folder.MakeSubfolder("kept-folder");
    HolderProcess holder({"--file", file, "--folder", sub, "--event", "vesperlin-snapshot-event",
                          "--key", "--self-handles"});
    ASSERT_TRUE(holder.Started());

    HandleSnapshot everything(holder.Id(), true);
    HandleSnapshot files(holder.Id(), false);
    ASSERT_TRUE(files.SetTypeFilter("File", true));

    ASSERT_FALSE(files.Entries().empty());
    EXPECT_EQ(files.Entries().size(), CountOfType(everything.Entries(), "File"));
    EXPECT_LT(files.Entries().size(), everything.Entries().size());  // the event, key, ... stay out
    bool sawFile = false, sawFolder = false;
    for (const HandleEntry& entry : files.Entries()) {
        EXPECT_EQ(entry.ProcessId, holder.Id());
        std::string name;
        if (!ResolveHandleName(entry.HandleValue, name, entry.ProcessId)) continue;
        sawFile |= vesperlin::testing::NamesDiskPath(name, file);
        sawFolder |= vesperlin::testing::NamesDiskPath(name, sub);
    }
    EXPECT_TRUE(sawFile);
    EXPECT_TRUE(sawFolder);
}

TEST(HandleSnapshot, TypeFilterLearnsEachTypeIndexOnceInsteadOfAskingEveryHandle) {
    TempFolder folder;
    std::vector<std::string> options;
    for (int i = 0; i < 30; ++i) {
        options.push_back("--file");
        options.push_back(folder.MakeFile("typed-" + std::to_string(i) + ".txt"));
    }
    for (const char* more : {"--key", "--self-handles"}) options.push_back(more);
    HolderProcess holder(options);
    ASSERT_TRUE(holder.Started());
    HandleSnapshot everything(holder.Id(), true);
    const std::size_t fileRows = CountOfType(everything.Entries(), "File");
    std::set<USHORT> indexes;
    std::vector<HandleEntry> table;
    ASSERT_TRUE(ReadSystemHandleTable(table));
    for (const HandleEntry& row : table) indexes.insert(row.ObjectTypeIndex);

    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);
    const HandlePassCounters before = handlePassCounters;
    HandleSnapshot files(holder.Id(), true, "File");
    EXPECT_EQ(files.Entries().size(), fileRows);
    EXPECT_GE(fileRows, 30u);
    // At most a few handles per index are asked (two of ours, or one of another process),
    // and fewer than the holder's own rows: its handles are not asked one by one.
    EXPECT_LE(ObjectQueryCounter::typeQueries.load(), static_cast<int>(3 * indexes.size()));
    EXPECT_LT(ObjectQueryCounter::typeQueries.load(),
              static_cast<int>(everything.Entries().size()));
    EXPECT_LE(handlePassCounters.handlesCopied - before.handlesCopied, indexes.size());
    EXPECT_LE(handlePassCounters.processesOpened - before.processesOpened, 1u);
}

TEST(HandleSnapshot, TypeFilterIsExactAndCaseSensitive) {
    TempFolder folder;
    HolderProcess holder({"--file", folder.MakeFile("case.txt")});
    ASSERT_TRUE(holder.Started());
    HandleSnapshot lower(holder.Id(), true, "file");
    EXPECT_TRUE(lower.Entries().empty());
    HandleSnapshot partial(holder.Id(), true, "Fil");
    EXPECT_TRUE(partial.Entries().empty());
    HandleSnapshot exact(holder.Id(), true, "File");
    EXPECT_FALSE(exact.Entries().empty());
}

TEST(HandleSnapshot, WithoutTypeFilterKeepsEveryRowOfTheOwnerAndAsksNoType) {
    HolderProcess holder({"--self-handles", "--event", "vesperlin-snapshot-untyped"});
    ASSERT_TRUE(holder.Started());
    NtApiRestorer restorer;
    ObjectQueryCounter::Install(restorer);

    HandleSnapshot snapshot(holder.Id(), true);
    EXPECT_EQ(ObjectQueryCounter::typeQueries.load() + ObjectQueryCounter::nameQueries.load(), 0);

    std::vector<HandleEntry> table;
    ASSERT_TRUE(ReadSystemHandleTable(table));
    std::size_t owned = 0;
    for (const HandleEntry& row : table) owned += row.ProcessId == holder.Id();
    EXPECT_GT(snapshot.Entries().size(), 0u);
    EXPECT_EQ(snapshot.Entries().size(), owned);
}

TEST(HandleSnapshot, AllProcessesSeesOurOwnAndOtherProcessesHandles) {
    HolderProcess holder({"--self-handles"});
    ASSERT_TRUE(holder.Started());
    HandleSnapshot snapshot(HandleSnapshot::AllProcesses, true);
    bool ours = false, theirs = false;
    for (const HandleEntry& entry : snapshot.Entries()) {
        ours |= entry.ProcessId == GetCurrentProcessId();
        theirs |= entry.ProcessId == holder.Id();
    }
    EXPECT_TRUE(ours);
    EXPECT_TRUE(theirs);
}

TEST(HandleSnapshot, ReadsAgainWithTheNewLengthWhenTheTableGrowsBetweenReadings) {
    NtApiRestorer restorer;
    TableScript::Install(restorer);
    // Larger than the first buffer, then larger again, then the real table.
    TableScript::reportedLengths = {20000, 60000, 120000};
    HandleSnapshot snapshot(GetCurrentProcessId(), false);
    EXPECT_TRUE(snapshot.Refresh());
    ASSERT_GE(TableScript::passedLengths.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_GT(TableScript::passedLengths[i], TableScript::reportedLengths[i - 1]);
    EXPECT_FALSE(snapshot.Entries().empty());
}

TEST(HandleSnapshot, DoublesTheBufferWhenNoUsableLengthIsReported) {
    NtApiRestorer restorer;
    TableScript::Install(restorer);
    // Wine answers 0 for a tiny buffer; a length that is not larger than ours is no better.
    TableScript::reportedLengths = {0, 100};
    HandleSnapshot snapshot(GetCurrentProcessId(), true);
    ASSERT_GE(TableScript::passedLengths.size(), 3u);
    EXPECT_GT(TableScript::passedLengths[1], TableScript::passedLengths[0]);
    EXPECT_GT(TableScript::passedLengths[2], TableScript::passedLengths[1]);
    EXPECT_FALSE(snapshot.Entries().empty());
}

TEST(HandleSnapshot, GivesUpOnATableThatKeepsGrowingAndOnAFailedReading) {
    NtApiRestorer restorer;
    TableScript::Install(restorer);
    TableScript::alwaysTooSmall = true;
    HandleSnapshot growing(HandleSnapshot::AllProcesses, false);
    EXPECT_FALSE(growing.Refresh());
    EXPECT_TRUE(growing.Entries().empty());
    EXPECT_LE(TableScript::calls, 8);

    TableScript::Install(restorer);
    TableScript::failure = static_cast<NTSTATUS>(0xC0000022L);  // access denied
    HandleSnapshot failing(HandleSnapshot::AllProcesses, false);
    EXPECT_FALSE(failing.Refresh());
    EXPECT_EQ(TableScript::calls, 1);
}

TEST(HandleSnapshot, KeepsFullWidthIdentifiersAndHandleValuesAndStopsAtTheReplysEnd) {
    NtApiRestorer restorer;
    TableScript::Install(restorer);
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX wide{};
    wide.UniqueProcessId = 0x12345;  // beyond 16 bits
    wide.HandleValue = 0x1ABCD4;
    wide.GrantedAccess = 0x120089;
    wide.ObjectTypeIndex = 37;
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX other = wide;
    other.UniqueProcessId = 0x12346;
    TableScript::rows = {wide, other, wide};

    HandleSnapshot snapshot(0x12345, true);
    ASSERT_EQ(snapshot.Entries().size(), 2u);
    EXPECT_EQ(snapshot.Entries()[0].HandleValue, reinterpret_cast<HANDLE>(0x1ABCD4));
    EXPECT_EQ(snapshot.Entries()[0].GrantedAccess, 0x120089u);
    EXPECT_EQ(snapshot.Entries()[0].ObjectTypeIndex, 37);

    // A count far beyond what the 8192-byte reply can hold: the walk ends at the reply's end.
    TableScript::Install(restorer);
    TableScript::claimedCount = 1000000;
    HandleSnapshot overclaimed(HandleSnapshot::AllProcesses, false);
    EXPECT_TRUE(overclaimed.Refresh());
    EXPECT_EQ(overclaimed.Entries().size(), (8192u - 16u) / 40u);
}

TEST(HandleSnapshot, RowsOfAnOwnerThatCannotBeOpenedStayOnlyWithoutTypeFilter) {
    NtApiRestorer restorer;
    TableScript::Install(restorer);
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX gone{};
    gone.UniqueProcessId = 0x7FFFFFF0;  // no such process
    gone.HandleValue = 0x44;
    TableScript::rows = {gone};
    HandleSnapshot untyped(0x7FFFFFF0, true);
    EXPECT_EQ(untyped.Entries().size(), 1u);
    HandleSnapshot typed(0x7FFFFFF0, true, "File");
    EXPECT_TRUE(typed.Entries().empty());
}

#include "sysinfo/win32/process_snapshot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/holder_process.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::HolderProcess;
using testing::MessageLog;
using testing::NtApiGuard;

std::string ImageNameOf(const ProcessSnapshot& snapshot, DWORD processId) {
    const ProcessEntry* entry = snapshot.Lookup(processId);
    if (!entry) return "<none>";
    std::string name;
    if (!snapshot.ImageName(*entry, name)) return "<outside>";
    return name;
}

std::vector<DWORD> WalkOrder(const ProcessSnapshot& snapshot) {
    std::vector<DWORD> order;
    snapshot.Walk([&](DWORD processId, const ProcessEntry&) { order.push_back(processId); });
    return order;
}

// The scripted process lists: what the replaced NtQuerySystemInformation answers.
struct Script {
    static inline std::vector<ULONG> lengthsAsked;
    static inline ULONG needed = 0;  // answer "too small" below this length
    static inline NTSTATUS failure = 0;
    static inline std::vector<DWORD> processIds;
    static inline bool breakLastOffset = false;
    static inline bool lastNameOutside = false;  // the last record's name lies outside the list
    static inline NtQuerySystemInformationFn real = nullptr;

    static void Reset() {
        lengthsAsked.clear();
        needed = 0;
        failure = 0;
        processIds.clear();
        breakLastOffset = false;
        lastNameOutside = false;
        real = NtApi.NtQuerySystemInformation;
    }

    // Forwards to the platform once the buffer is at least `needed` bytes.
    static NTSTATUS NTAPI TooSmallFirst(ULONG infoClass, PVOID buffer, ULONG length,
                                        PULONG returnLength) {
        lengthsAsked.push_back(length);
        if (length < needed) {
            if (returnLength) *returnLength = needed;
            return kStatusInfoLengthMismatch;
        }
        return real(infoClass, buffer, length, returnLength);
    }

    static NTSTATUS NTAPI Failing(ULONG, PVOID, ULONG length, PULONG) {
        lengthsAsked.push_back(length);
        return failure;
    }

    // Writes one record per scripted identifier, each named "p<id>.exe".
    static NTSTATUS NTAPI Fabricated(ULONG, PVOID buffer, ULONG length, PULONG returnLength) {
        lengthsAsked.push_back(length);
        constexpr ULONG kRecord = sizeof(SYSTEM_PROCESS_INFORMATION) + 64;
        const ULONG total = kRecord * static_cast<ULONG>(processIds.size());
        if (length < total) return kStatusInfoLengthMismatch;
        auto* base = static_cast<BYTE*>(buffer);
        std::memset(base, 0, total);
        for (std::size_t i = 0; i < processIds.size(); ++i) {
            auto* record = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(base + i * kRecord);
            auto* text = reinterpret_cast<wchar_t*>(record + 1);
            const std::wstring name = L"p" + std::to_wstring(processIds[i]) + L".exe";
            std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
            record->ImageName.Buffer = text;
            record->ImageName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
            record->ImageName.MaximumLength = record->ImageName.Length + sizeof(wchar_t);
            record->UniqueProcessId = reinterpret_cast<HANDLE>(ULONG_PTR{processIds[i]});
            const bool last = i + 1 == processIds.size();
            static wchar_t elsewhere[] = L"elsewhere.exe";
            if (last && lastNameOutside) record->ImageName.Buffer = elsewhere;
            record->NextEntryOffset = last ? 0 : kRecord;
            if (last && breakLastOffset) record->NextEntryOffset = 0x7FFFFFF0;
        }
        if (returnLength) *returnLength = total;
        return 0;
    }
};

class ProcessSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override { Script::Reset(); }
    NtApiGuard guard;
    MessageLog messages;
};

TEST_F(ProcessSnapshotTest, HoldsOurOwnProcessWithItsImageName) {
    ProcessSnapshot snapshot(messages, true);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_GT(snapshot.Count(), 1u);
    EXPECT_TRUE(testing::SameNameIgnoringCase(ImageNameOf(snapshot, GetCurrentProcessId()),
                                              testing::OwnImageName()));
}

TEST_F(ProcessSnapshotTest, ListsAHelperProcessWhileItRunsAndForgetsItAfterARefresh) {
    ProcessSnapshot snapshot(messages);
    EXPECT_EQ(snapshot.Count(), 0u);
    DWORD holderId = 0;
    {
        HolderProcess holder({});
        ASSERT_TRUE(holder.Started());
        holderId = holder.Id();
        ASSERT_TRUE(snapshot.Refresh());
        EXPECT_TRUE(
            testing::SameNameIgnoringCase(ImageNameOf(snapshot, holderId), "vesperlin-holder.exe"));
    }
    ASSERT_TRUE(snapshot.Refresh());
    EXPECT_EQ(snapshot.Lookup(holderId), nullptr);
    EXPECT_NE(snapshot.Lookup(GetCurrentProcessId()), nullptr);
}

TEST_F(ProcessSnapshotTest, GrowsItsBufferWhenTheListDoesNotFit) {
    Script::needed = 0x20000 * 3;
    NtApi.NtQuerySystemInformation = Script::TooSmallFirst;
    ProcessSnapshot snapshot(messages);
    ASSERT_TRUE(snapshot.Refresh());
    EXPECT_TRUE(messages.shown.empty());
    ASSERT_GE(Script::lengthsAsked.size(), 2u);
    EXPECT_LT(Script::lengthsAsked.front(), Script::needed);
    EXPECT_GE(Script::lengthsAsked.back(), Script::needed);
    EXPECT_NE(snapshot.Lookup(GetCurrentProcessId()), nullptr);
    // The larger buffer stays: the next reading fits at once.
    Script::lengthsAsked.clear();
    ASSERT_TRUE(snapshot.Refresh());
    EXPECT_EQ(Script::lengthsAsked.size(), 1u);
}

TEST_F(ProcessSnapshotTest, GivesUpOnAListThatNeverFits) {
    Script::needed = 0xFFFFFFFF;
    NtApi.NtQuerySystemInformation = Script::TooSmallFirst;
    ProcessSnapshot snapshot(messages);
    EXPECT_FALSE(snapshot.Refresh());
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Couldn't query system information."}));
    EXPECT_EQ(snapshot.Count(), 0u);
    EXPECT_LE(Script::lengthsAsked.size(), 16u);
}

TEST_F(ProcessSnapshotTest, ReportsAFailedReadingAndEmptiesTheIndex) {
    ProcessSnapshot snapshot(messages, true);
    ASSERT_GT(snapshot.Count(), 0u);
    Script::failure = static_cast<NTSTATUS>(0xC0000022);  // access denied
    NtApi.NtQuerySystemInformation = Script::Failing;
    EXPECT_FALSE(snapshot.Refresh());
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Couldn't query system information."}));
    EXPECT_EQ(snapshot.Count(), 0u);
    EXPECT_EQ(snapshot.Lookup(GetCurrentProcessId()), nullptr);
    EXPECT_EQ(Script::lengthsAsked.size(), 1u);
}

TEST_F(ProcessSnapshotTest, MakesNoNativeCallWhenTheEntryPointsAreMissing) {
    ProcessSnapshot snapshot(messages, true);
    ntApiBound = false;
    NtApi.NtQuerySystemInformation = nullptr;  // a call would crash the test
    EXPECT_FALSE(snapshot.Refresh());
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Cant' load NT Dlls."}));
    EXPECT_EQ(snapshot.Count(), 0u);
}

TEST_F(ProcessSnapshotTest, IndexesTheRecordsOfTheListInTheIndexOrder) {
    Script::processIds = {0, 4, 272, 300, 8};
    NtApi.NtQuerySystemInformation = Script::Fabricated;
    ProcessSnapshot snapshot(messages, true);
    EXPECT_EQ(WalkOrder(snapshot), (std::vector<DWORD>{8, 272, 4, 0, 300}));
    EXPECT_EQ(ImageNameOf(snapshot, 272), "p272.exe");
    EXPECT_EQ(ImageNameOf(snapshot, 0), "p0.exe");

    // A second reading replaces the first completely.
    Script::processIds = {300, 16};
    ASSERT_TRUE(snapshot.Refresh());
    EXPECT_EQ(WalkOrder(snapshot), (std::vector<DWORD>{16, 300}));
    EXPECT_EQ(snapshot.Lookup(272), nullptr);
    EXPECT_EQ(ImageNameOf(snapshot, 300), "p300.exe");
}

TEST_F(ProcessSnapshotTest, ReadsNoImageNameFromOutsideTheList) {
    Script::processIds = {4, 8};
    Script::lastNameOutside = true;
    NtApi.NtQuerySystemInformation = Script::Fabricated;
    ProcessSnapshot snapshot(messages, true);
    EXPECT_EQ(ImageNameOf(snapshot, 4), "p4.exe");
    EXPECT_EQ(ImageNameOf(snapshot, 8), "<outside>");
}

TEST_F(ProcessSnapshotTest, StopsWalkingAtAnOffsetThatLeavesTheBuffer) {
    Script::processIds = {4, 8, 12};
    Script::breakLastOffset = true;
    NtApi.NtQuerySystemInformation = Script::Fabricated;
    ProcessSnapshot snapshot(messages, true);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(snapshot.Count(), 3u);
    EXPECT_EQ(ImageNameOf(snapshot, 12), "p12.exe");
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32

#include "sysinfo/win32/nt_api.h"

#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/token_privilege.h"

#include <gtest/gtest.h>

#include "support/holder_process.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::HolderProcess;
using testing::MessageLog;

// A handle value of ours copied into `target`; the value is valid only there.
HANDLE CopyInto(HANDLE target, HANDLE ours) {
    HANDLE remote = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), ours, target, &remote, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    return remote;
}

TEST(BindNtApi, FindsAllFiveEntryPointsBeforeTheTestsRun) {
    EXPECT_TRUE(ntApiBound);
    EXPECT_NE(NtApi.NtQuerySystemInformation, nullptr);
    EXPECT_NE(NtApi.NtQueryObject, nullptr);
    EXPECT_NE(NtApi.NtQueryInformationThread, nullptr);
    EXPECT_NE(NtApi.NtQueryInformationFile, nullptr);
    EXPECT_NE(NtApi.NtQueryInformationProcess, nullptr);
    // Binding again finds the same addresses as the start-up binding did.
    const NtApiTable before = NtApi;
    EXPECT_TRUE(BindNtApi());
    EXPECT_EQ(NtApi.NtQueryObject, before.NtQueryObject);
    EXPECT_EQ(NtApi.NtQueryInformationFile, before.NtQueryInformationFile);
}

// Sets the privilege's state in our token directly, as another program's code could.
void SetDebugPrivilege(bool enabled) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES request{};
    request.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &request.Privileges[0].Luid));
    request.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, sizeof request, nullptr, nullptr));
    CloseHandle(token);
}

TEST(EnableDebugPrivilege, SucceedsWithoutAMessageInAnElevatedSession) {
    SetDebugPrivilege(false);
    EXPECT_FALSE(DebugPrivilegeEnabled());
    MessageLog messages;
    EXPECT_TRUE(EnableDebugPrivilege(messages));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(DebugPrivilegeEnabled());
}

TEST(GetProcessIdOfHandle, NamesTheProcessAHandleOfOursRefersTo) {
    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    DWORD processId = 12345;
    EXPECT_TRUE(GetProcessIdOfHandle(holder.Process(), processId, GetCurrentProcessId()));
    EXPECT_EQ(processId, holder.Id());
}

TEST(GetProcessIdOfHandle, BringsAHandleOverFromItsOwner) {
    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    // A handle to our own process, as the holder sees it.
    HANDLE remote = CopyInto(holder.Process(), GetCurrentProcess());
    DWORD processId = 0;
    EXPECT_TRUE(GetProcessIdOfHandle(remote, processId, holder.Id()));
    EXPECT_EQ(processId, GetCurrentProcessId());
}

TEST(GetProcessIdOfHandle, FailsWithZeroForAHandleThatIsNoProcess) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    DWORD processId = 77;
    EXPECT_FALSE(GetProcessIdOfHandle(event, processId, GetCurrentProcessId()));
    EXPECT_EQ(processId, 0u);
    CloseHandle(event);
}

TEST(GetProcessIdOfHandle, FailsWhenTheOwnerCannotBeOpened) {
    DWORD processId = 77;
    // Identifiers are multiples of four; this one names no process.
    EXPECT_FALSE(GetProcessIdOfHandle(reinterpret_cast<HANDLE>(4), processId, 0xFFFFFFF1));
    EXPECT_EQ(processId, 0u);
}

TEST(GetThreadIdOfHandle, NamesTheThreadInPlaceAndFromAnotherProcess) {
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                &thread, 0, FALSE, DUPLICATE_SAME_ACCESS));
    DWORD threadId = 0;
    EXPECT_TRUE(GetThreadIdOfHandle(thread, threadId, GetCurrentProcessId()));
    EXPECT_EQ(threadId, GetCurrentThreadId());

    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    HANDLE remote = CopyInto(holder.Process(), thread);
    threadId = 0;
    EXPECT_TRUE(GetThreadIdOfHandle(remote, threadId, holder.Id()));
    EXPECT_EQ(threadId, GetCurrentThreadId());
    CloseHandle(thread);
}

TEST(GetThreadIdOfHandle, ReportsFailureForAHandleThatIsNoThread) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    DWORD threadId = 77;
    EXPECT_FALSE(GetThreadIdOfHandle(event, threadId, GetCurrentProcessId()));
    EXPECT_EQ(threadId, 0u);
    CloseHandle(event);
}

TEST(GetProcessIdOfHandle, MakesNoNativeCallWhenTheEntryPointsAreMissing) {
    testing::NtApiGuard guard;
    ntApiBound = false;
    NtApi.NtQueryInformationProcess = nullptr;  // a call would crash the test
    NtApi.NtQueryInformationThread = nullptr;
    DWORD id = 5;
    EXPECT_FALSE(GetProcessIdOfHandle(GetCurrentProcess(), id, GetCurrentProcessId()));
    EXPECT_EQ(id, 0u);
    id = 5;
    EXPECT_FALSE(GetThreadIdOfHandle(GetCurrentThread(), id, GetCurrentProcessId()));
    EXPECT_EQ(id, 0u);
}

TEST(BroughtHandle, UsesOwnHandlesInPlaceAndClosesCopiesOfForeignOnes) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    const std::size_t before = testing::OwnHandleRows();
    ASSERT_GT(before, 0u);
    {
        BroughtHandle own(event, GetCurrentProcessId());
        EXPECT_TRUE(own.Ok());
        EXPECT_EQ(own.Get(), event);
        EXPECT_EQ(testing::OwnHandleRows(), before);
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "our own handle must stay open";

    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    HANDLE remote = CopyInto(holder.Process(), event);
    const std::size_t withHolder = testing::OwnHandleRows();
    HANDLE copy = nullptr;
    {
        BroughtHandle foreign(remote, holder.Id());
        EXPECT_TRUE(foreign.Ok());
        ASSERT_NE(foreign.Get(), nullptr);
        EXPECT_NE(foreign.Get(), event);
        copy = foreign.Get();
        // The copy is the same event: setting it through the copy sets ours.
        EXPECT_TRUE(SetEvent(foreign.Get()));
        EXPECT_EQ(testing::OwnHandleRows(), withHolder + 2);  // the owner and the copy
    }
    EXPECT_EQ(testing::OwnHandleRows(), withHolder);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(copy, &flags)) << "the copy must be closed";
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(event);
}

TEST(OpenProcessForDuplicate, GivesAHandleNoChildProcessInherits) {
    HolderProcess holder({});
    ASSERT_TRUE(holder.Started());
    const base::UniqueProcess process = OpenProcessForDuplicate(holder.Id());
    ASSERT_TRUE(process);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(process.get(), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32

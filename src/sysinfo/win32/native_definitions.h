#pragma once
// The native interface's records, information classes and status codes that system inspection
// uses, in one place. winternl.h lacks most of them or declares only part of a record; the
// layouts are the platform's, checked against the offsets the bounds-checked readers in
// sysinfo/native_records.h use.

#include <windows.h>
#include <winternl.h>

#include <cstddef>

#include "sysinfo/native_records.h"

namespace vesperlin::sysinfo::win32 {

// Status codes.
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);

// NtQuerySystemInformation classes. The extended handle table carries process identifiers
// and handle values at full width; the older class 16 cuts both to 16 bits, which current
// systems exceed.
constexpr ULONG kSystemProcessInformation = 5;
constexpr ULONG kSystemExtendedHandleInformation = 64;

// NtQueryObject classes.
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kObjectTypeInformation = 2;

// NtQueryInformationFile class: the path within the volume.
constexpr ULONG kFileNameInformation = 9;

// NtQueryInformationProcess classes. The command line's (Windows 8.1 and later; Wine has it
// too) answers one UNICODE_STRING followed by its text.
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessCommandLineInformation = 60;

// NtQueryInformationThread class.
constexpr ULONG kThreadBasicInformation = 0;

// winternl.h has no record for the thread class 0; this is the platform's layout (28 bytes with
// the thread identifier at 12 in a 32-bit process, 48 and 24 in ours).
struct THREAD_BASIC_INFORMATION {
    NTSTATUS ExitStatus;
    PVOID TebBaseAddress;
    CLIENT_ID ClientId;
    KAFFINITY AffinityMask;
    LONG Priority;
    LONG BasePriority;
};

// The 64-bit rows of the extended handle table (class 64).
struct SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX {
    PVOID Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};

struct SYSTEM_HANDLE_INFORMATION_EX {
    ULONG_PTR NumberOfHandles;
    ULONG_PTR Reserved;
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX Handles[1];
};

#ifdef _WIN64
static_assert(sizeof(THREAD_BASIC_INFORMATION) == 48);
static_assert(offsetof(THREAD_BASIC_INFORMATION, ClientId) + offsetof(CLIENT_ID, UniqueThread) ==
              24);
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == 48);
static_assert(offsetof(PROCESS_BASIC_INFORMATION, UniqueProcessId) == 32);
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX) == 40);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, UniqueProcessId) == 8);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, HandleValue) == 16);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, GrantedAccess) == 24);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, CreatorBackTraceIndex) == 28);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, ObjectTypeIndex) == 30);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, HandleAttributes) == 32);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, Reserved) == 36);
static_assert(offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) == 16);
#else
static_assert(sizeof(THREAD_BASIC_INFORMATION) == 28);
static_assert(offsetof(THREAD_BASIC_INFORMATION, ClientId) + offsetof(CLIENT_ID, UniqueThread) ==
              12);
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == 24);
static_assert(offsetof(PROCESS_BASIC_INFORMATION, UniqueProcessId) == 16);
#endif

// The records the portable readers walk, at the offsets they assume.
static_assert(sizeof(SYSTEM_PROCESS_INFORMATION) == kProcessRecordSize);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == kProcessImageNameOffset);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == kProcessIdOffset);
static_assert(offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) == kHandleTableHeaderSize);
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX) == kHandleTableRowSize);
// Class 2's reply (the object type) begins with the type name's counted string.
static_assert(sizeof(UNICODE_STRING) == kCountedTextRecordSize);

}  // namespace vesperlin::sysinfo::win32

#pragma once
// The system-wide table of open handles, read at one moment and filtered by owner and by the
// exact name of the object type.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vesperlin::win32 {

// One row of the system handle table, as far as we use it.
struct HandleEntry {
    DWORD ProcessId = 0;
    HANDLE HandleValue = nullptr;  // valid in the owning process
    ACCESS_MASK GrantedAccess = 0;
    USHORT ObjectTypeIndex = 0;  // the kernel's own index; differs between systems
};

// The platform's 64-bit records of the extended handle table (information class 64).
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
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX) == 40);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, UniqueProcessId) == 8);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, HandleValue) == 16);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, GrantedAccess) == 24);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, CreatorBackTraceIndex) == 28);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, ObjectTypeIndex) == 30);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, HandleAttributes) == 32);
static_assert(offsetof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX, Reserved) == 36);
static_assert(offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) == 16);
#endif

class HandleSnapshot {
  public:
    static constexpr DWORD AllProcesses = 0xFFFFFFFF;

    // `typeName` null or empty keeps every type.
    explicit HandleSnapshot(DWORD processFilter = AllProcesses, bool refreshNow = false,
                            const char* typeName = nullptr);

    // Stores the filter; with `refreshNow`, the result of Refresh, otherwise true.
    bool SetTypeFilter(const char* typeName, bool refreshNow);

    // Replaces the entries with the rows of a fresh reading that pass both filters. True when
    // the table was read, even if no row passed. Shows no message.
    bool Refresh();

    // In the order of the system's table.
    const std::vector<HandleEntry>& Entries() const { return entries; }

  private:
    std::vector<HandleEntry> entries;
    DWORD processFilter;
    std::string typeFilter;
};

// Reads the whole table (every row, no filter) into `rows`. False when it cannot be read.
bool ReadSystemHandleTable(std::vector<HandleEntry>& rows);

}  // namespace vesperlin::win32

#include "sysinfo/win32/handle_snapshot.h"

#include <cstddef>
#include <cstdint>

#include "sysinfo/native_records.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/object_types.h"
#include "sysinfo/win32/unique_handle.h"

namespace vesperlin::win32 {

namespace {

// The extended table: process identifiers and handle values at full width. The older class
// 16 cuts both to 16 bits, which current systems exceed.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

constexpr ULONG kFirstTableLength = 8192;
// Room for the rows that appear between the reading that reports a length and the next.
constexpr ULONG kGrowthMargin = 256 * sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX);
constexpr ULONG kLargestTable = 1024u * 1024u * 1024u;
// A busy system may grow its table between every two readings; we do not chase it forever.
constexpr int kTableAttempts = 8;

static_assert(offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) == kHandleTableHeaderSize);
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX) == kHandleTableRowSize);

}  // namespace

bool ReadSystemHandleTable(std::vector<HandleEntry>& rows) {
    rows.clear();
    if (!ntApiBound) return false;
    ULONG length = kFirstTableLength;
    for (int attempt = 0; attempt < kTableAttempts; ++attempt) {
        UniqueVirtualMemory buffer(VirtualAlloc(nullptr, length, MEM_COMMIT, PAGE_READWRITE));
        if (!buffer) return false;
        ULONG needed = 0;
        const NTSTATUS status = NtApi.NtQuerySystemInformation(kSystemExtendedHandleInformation,
                                                               buffer.get(), length, &needed);
        if (status == kInfoLengthMismatch) {
            // Wine reports 0 for a buffer too small for the header; never trust a length that
            // does not exceed what we gave.
            const ULONG next = needed > length ? needed + kGrowthMargin : length * 2;
            if (next > kLargestTable || next < length) return false;
            length = next;
            continue;
        }
        if (status != 0) return false;
        // A count that claims more rows than the reply holds ends the walk at the reply's end.
        const ByteSpan table(static_cast<const std::uint8_t*>(buffer.get()), length);
        std::size_t count = 0;
        if (!CountHandleTableRows(table, count)) return false;
        rows.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const HandleTableRow row = ReadHandleTableRow(table, i);
            HandleEntry entry;
            entry.ProcessId = static_cast<DWORD>(row.UniqueProcessId);
            entry.HandleValue = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(row.HandleValue));
            entry.GrantedAccess = row.GrantedAccess;
            entry.ObjectTypeIndex = row.ObjectTypeIndex;
            rows.push_back(entry);
        }
        return true;
    }
    return false;
}

HandleSnapshot::HandleSnapshot(DWORD processFilter, bool refreshNow, const char* typeName)
    : processFilter(processFilter), typeFilter(typeName ? typeName : "") {
    if (refreshNow) Refresh();
}

bool HandleSnapshot::SetTypeFilter(const char* typeName, bool refreshNow) {
    typeFilter = typeName ? typeName : "";
    return refreshNow ? Refresh() : true;
}

bool HandleSnapshot::Refresh() {
    entries.clear();
    std::vector<HandleEntry> rows;
    if (!ReadSystemHandleTable(rows)) return false;
    for (const HandleEntry& row : rows) {
        if (processFilter != AllProcesses && row.ProcessId != processFilter) continue;
        if (!typeFilter.empty()) {
            // A row whose type cannot be read (owner gone or closed to us) is left out.
            std::string typeName;
            if (!QueryObjectTypeName(row.HandleValue, typeName, row.ProcessId)) continue;
            if (typeName != typeFilter) continue;
        }
        entries.push_back(row);
    }
    return true;
}

}  // namespace vesperlin::win32

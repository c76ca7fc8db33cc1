#include "sysinfo/win32/handle_snapshot.h"

#include <cstring>

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

constexpr std::size_t kHeaderLength = offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles);

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
        if (length < kHeaderLength) return false;
        const auto* bytes = static_cast<const unsigned char*>(buffer.get());
        ULONG_PTR count = 0;
        std::memcpy(&count, bytes, sizeof(count));
        // A count that claims more rows than the reply holds ends the walk at the reply's end.
        const ULONG_PTR fits = (length - kHeaderLength) / sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX);
        if (count > fits) count = fits;
        rows.reserve(count);
        for (ULONG_PTR i = 0; i < count; ++i) {
            SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX row;
            std::memcpy(&row, bytes + kHeaderLength + i * sizeof(row), sizeof(row));
            HandleEntry entry;
            entry.ProcessId = static_cast<DWORD>(row.UniqueProcessId);
            entry.HandleValue = reinterpret_cast<HANDLE>(row.HandleValue);
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

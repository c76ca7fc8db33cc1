#include "sysinfo/win32/handle_snapshot.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "base/grow_buffer.h"
#include "base/win32/unique_handle.h"
#include "sysinfo/native_records.h"
#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/object_types.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// The table starts small; room for the rows that appear between the reading that reports a
// length and the next is added to that length. Wine reports 0 for a buffer too small for the
// header, which the grow helper does not take for a length. A busy system may grow its table
// between every two readings; we do not chase it for ever.
constexpr base::GrowLimits kTableLimits{8192, std::size_t{1} << 30,
                                        256 * sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX), 8};

}  // namespace

bool ReadSystemHandleTable(std::vector<HandleEntry>& rows) {
    rows.clear();
    if (!ntApiBound) return false;
    base::UniqueVirtualMemory buffer;
    const base::GrowResult read = base::GrowBuffer(kTableLimits, [&](std::size_t size) {
        // The smaller try holds nothing we keep: it goes before the larger one is taken, so
        // a table near the limit never needs both at once.
        buffer.reset();
        buffer.reset(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        if (!buffer) return base::TryResult::Failed();
        ULONG needed = 0;
        const NTSTATUS status = NtApi.NtQuerySystemInformation(
            kSystemExtendedHandleInformation, buffer.get(), static_cast<ULONG>(size), &needed);
        if (status == kStatusInfoLengthMismatch) return base::TryResult::TooSmall(needed);
        return status == 0 ? base::TryResult::Fits(size) : base::TryResult::Failed();
    });
    if (!read.Fits()) return false;
    // A count that claims more rows than the reply holds ends the walk at the reply's end.
    const ByteSpan table(static_cast<const std::uint8_t*>(buffer.get()), read.size);
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

// What one snapshot opened: each owner once, and the copies made to learn types that its
// entries keep for naming (one per entry, or null).
class SnapshotSources {
  public:
    // Null when the owner cannot be opened (asked once; the answer is kept).
    HANDLE Owner(DWORD processId) {
        auto found = owners.find(processId);
        if (found != owners.end()) return found->second.get();
        base::UniqueProcess process = OpenProcessForDuplicate(processId);
        if (!process && GetLastError() == ERROR_ACCESS_DENIED) denied.push_back(processId);
        return owners.emplace(processId, std::move(process)).first->second.get();
    }
    // Owners we were not allowed to open: their handles stay unseen.
    const std::vector<DWORD>& Denied() const { return denied; }

    std::vector<base::UniqueKernelHandle> copies;

  private:
    std::unordered_map<DWORD, base::UniqueProcess> owners;
    std::vector<DWORD> denied;
};

namespace {

// How many of our own handles of one type index we ask before we trust the answer (two that
// agree), and how many handles we try at most when they cannot be read.
constexpr int kTypeWitnesses = 2;
constexpr std::size_t kTypeCandidates = 6;

// What we know of one kernel type index during one reading.
struct IndexType {
    enum class Kind { Named, AskEachHandle, Unknown };
    Kind kind = Kind::Unknown;
    std::string name;
};

// The type filter's part of a reading: learns the types of the table's indexes and keeps the
// rows of the filtered type, with the copies made on the way.
class TypeLearning {
  public:
    TypeLearning(const std::vector<HandleEntry>& table, const std::string& typeFilter,
                 SnapshotSources& sources)
        : table(table), typeFilter(typeFilter), sources(sources) {}
    TypeLearning(const TypeLearning&) = delete;
    TypeLearning& operator=(const TypeLearning&) = delete;

    // With `ownOnly`, only our own handles are asked (Unknown when there is none). A copy made
    // to learn a type that turns out to be the filtered one is kept (by row), so that no
    // handle is copied twice.
    IndexType Learn(const std::vector<std::size_t>& candidates, bool ownOnly) {
        int witnesses = 0;
        std::string seen;
        for (std::size_t row : candidates) {
            const HandleEntry& entry = table[row];
            std::string typeName;
            bool read = false;
            if (entry.ProcessId == self) {
                read = QueryLocalObjectTypeName(entry.HandleValue, typeName);
            } else if (ownOnly) {
                break;  // our own handles come first in the list
            } else {
                read = ReadCopied(row, typeName);
            }
            if (!read) continue;
            // Two handles of one index that disagree: the index tells us nothing here.
            if (witnesses > 0 && typeName != seen) return {IndexType::Kind::AskEachHandle, ""};
            seen = typeName;
            // Our own handles cost nothing to ask; another process's costs a copy, so one
            // answer from there is taken as it is.
            if (++witnesses == kTypeWitnesses || entry.ProcessId != self) break;
        }
        if (witnesses == 0)
            return {ownOnly ? IndexType::Kind::Unknown : IndexType::Kind::AskEachHandle, ""};
        return {IndexType::Kind::Named, seen};
    }

    // Whether the row is of the filtered type, by its index or by asking the handle itself.
    bool Keeps(std::size_t row, const IndexType& type) {
        const HandleEntry& entry = table[row];
        if (kept.count(row)) return true;
        if (type.kind == IndexType::Kind::Named) {
            if (type.name != typeFilter) return false;
            // A process that cannot be opened keeps its handles to itself: they are left out,
            // as handles whose type cannot be read.
            return entry.ProcessId == self || sources.Owner(entry.ProcessId);
        }
        std::string typeName;
        if (entry.ProcessId == self)
            return QueryLocalObjectTypeName(entry.HandleValue, typeName) && typeName == typeFilter;
        // Rare: the type could not be learned for the index, so this handle is copied now.
        return ReadCopied(row, typeName) && typeName == typeFilter;
    }

    // The copy kept for a row, taken over by the caller (empty when there is none).
    base::UniqueKernelHandle TakeCopy(std::size_t row) {
        auto found = kept.find(row);
        if (found == kept.end()) return base::UniqueKernelHandle();
        base::UniqueKernelHandle copy = std::move(found->second);
        kept.erase(found);
        return copy;
    }

  private:
    bool ReadCopied(std::size_t row, std::string& typeName) {
        const HandleEntry& entry = table[row];
        HANDLE owner = sources.Owner(entry.ProcessId);
        if (!owner) return false;
        base::UniqueKernelHandle copy = DuplicateIntoSelf(owner, entry.HandleValue);
        if (!copy) return false;
        const bool read = QueryLocalObjectTypeName(copy.get(), typeName);
        if (read && typeName == typeFilter) kept.emplace(row, std::move(copy));
        return read;
    }

    const std::vector<HandleEntry>& table;
    const std::string& typeFilter;
    SnapshotSources& sources;
    const DWORD self = GetCurrentProcessId();
    std::unordered_map<std::size_t, base::UniqueKernelHandle> kept;
};

}  // namespace

HandleSnapshot::HandleSnapshot(DWORD processFilter, bool refreshNow, const char* typeName)
    : processFilter(processFilter), typeFilter(typeName ? typeName : "") {
    if (refreshNow) Refresh();
}

HandleSnapshot::~HandleSnapshot() = default;

bool HandleSnapshot::SetTypeFilter(const char* typeName, bool refreshNow) {
    typeFilter = typeName ? typeName : "";
    return refreshNow ? Refresh() : true;
}

bool HandleSnapshot::Refresh() {
    entries.clear();
    // Opened afresh for every reading: process identifiers are reused.
    sources = std::make_shared<SnapshotSources>();
    std::vector<HandleEntry> table;
    if (!ReadSystemHandleTable(table)) return false;
    const auto passes = [&](const HandleEntry& row) {
        return processFilter == AllProcesses || row.ProcessId == processFilter;
    };
    if (typeFilter.empty()) {
        for (const HandleEntry& row : table)
            if (passes(row)) entries.push_back(row);
        return true;
    }

    // Candidates to learn each index from: our own handles first (no copy needed), then the
    // first few that pass the process filter.
    const DWORD self = GetCurrentProcessId();
    std::unordered_map<USHORT, std::vector<std::size_t>> candidates;
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < table.size(); ++i) {
            const bool own = table[i].ProcessId == self;
            if (own != (pass == 0) || (!own && !passes(table[i]))) continue;
            auto& list = candidates[table[i].ObjectTypeIndex];
            if (list.size() < kTypeCandidates) list.push_back(i);
        }

    TypeLearning learning(table, typeFilter, *sources);
    std::unordered_map<USHORT, IndexType> types;
    bool filteredIndexKnown = false;
    for (const auto& [typeIndex, list] : candidates) {
        types[typeIndex] = learning.Learn(list, true);
        filteredIndexKnown |=
            types[typeIndex].kind == IndexType::Kind::Named && types[typeIndex].name == typeFilter;
    }
    // Each type has one index. Once our own handles have shown the filtered type's index, no
    // other index can hold it, and nothing of another process needs copying to learn it.
    for (const auto& [typeIndex, list] : candidates) {
        IndexType& type = types[typeIndex];
        if (type.kind != IndexType::Kind::Unknown) continue;
        if (filteredIndexKnown)
            type = {IndexType::Kind::Named, ""};
        else
            type = learning.Learn(list, false);
    }

    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!passes(table[i]) || !learning.Keeps(i, types[table[i].ObjectTypeIndex])) continue;
        entries.push_back(table[i]);
        sources->copies.push_back(learning.TakeCopy(i));
    }
    return true;
}

std::vector<ProbeItem> HandleSnapshot::TakeProbeItems(std::shared_ptr<const void>& keepAlive) {
    if (!sources) sources = std::make_shared<SnapshotSources>();
    sources->copies.resize(entries.size());
    const DWORD self = GetCurrentProcessId();
    std::vector<ProbeItem> items;
    items.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const HandleEntry& entry = entries[i];
        if (HANDLE copy = sources->copies[i].release()) {
            items.push_back({nullptr, copy, true});
        } else if (entry.ProcessId == self) {
            items.push_back({nullptr, entry.HandleValue, false});
        } else {
            HANDLE owner = sources->Owner(entry.ProcessId);
            items.push_back({owner, owner ? entry.HandleValue : nullptr, false});
        }
    }
    keepAlive = sources;
    return items;
}

std::vector<DWORD> HandleSnapshot::DeniedOwners() const {
    return sources ? sources->Denied() : std::vector<DWORD>{};
}

}  // namespace vesperlin::sysinfo::win32

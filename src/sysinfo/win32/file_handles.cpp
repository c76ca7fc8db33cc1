#include "sysinfo/win32/file_handles.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sysinfo/device_path.h"
#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/object_types.h"
#include "sysinfo/win32/probe_pool.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::win32 {

namespace {

constexpr char kFileType[] = "File";
// How many of our own handles of one type index we ask before we trust the answer (two that
// agree), and how many handles we try at most when they cannot be read.
constexpr int kTypeWitnesses = 2;
constexpr int kTypeCandidates = 6;

// What we know of one kernel type index during one snapshot. The index is fixed for the life
// of the system, but it is not the same on every system (nor under Wine), so its name is
// learned from handles that carry it.
enum class IndexKind { File, Other, AskEachHandle, Unknown };

bool IsFile(HANDLE local) {
    std::string typeName;
    return QueryLocalObjectTypeName(local, typeName) && typeName == kFileType;
}

// Opens every owner at most once for the life of one snapshot.
class OwnerProcesses {
  public:
    OwnerProcesses() = default;
    OwnerProcesses(const OwnerProcesses&) = delete;
    OwnerProcesses& operator=(const OwnerProcesses&) = delete;
    ~OwnerProcesses() {
        for (auto& [processId, process] : opened)
            if (process) CloseHandle(process);
    }
    // Null when the owner cannot be opened (asked once; the answer is kept).
    HANDLE Get(DWORD processId) {
        auto found = opened.find(processId);
        if (found != opened.end()) return found->second;
        HANDLE process = OpenProcessForDuplicate(processId);
        if (!process && GetLastError() == ERROR_ACCESS_DENIED) denied.push_back(processId);
        opened.emplace(processId, process);
        return process;
    }
    // Owners we were not allowed to open: their handles stay unseen.
    const std::vector<DWORD>& Denied() const { return denied; }

  private:
    std::unordered_map<DWORD, HANDLE> opened;
    std::vector<DWORD> denied;
};

struct FileRow {
    DWORD processId;
    ProbeItem item;  // owner null: a handle of ours, or a copy made while learning its type
    FileUse use;     // the handle value and access of the table's row
};

FileUse UseOfRow(const HandleEntry& entry) {
    FileUse use = UseOf(UseKind::Handle);
    use.number = reinterpret_cast<std::uintptr_t>(entry.HandleValue);
    use.accessKnown = true;
    use.access = AccessOfWindowsMask(entry.GrantedAccess);
    return use;
}

class WindowsFileHandles : public FileHandleSnapshot {
  public:
    WindowsFileHandles() { Read(); }
    WindowsFileHandles(const WindowsFileHandles&) = delete;
    WindowsFileHandles& operator=(const WindowsFileHandles&) = delete;
    ~WindowsFileHandles() override {
        for (HANDLE copy : keptCopies) CloseHandle(copy);
    }

    std::size_t Count() const override { return rows.size(); }
    const std::vector<DWORD>& DeniedOwners() const { return owners.Denied(); }

    void LimitNamesTo(std::vector<HandleTarget> targets) override {
        std::vector<std::u16string> names;
        for (const HandleTarget& target : targets)
            for (const std::string& name : WindowsHandleNames(target.deviceForm, target.fullPath)) {
                const std::wstring wide = NarrowToWide(name);
                names.emplace_back(wide.begin(), wide.end());
            }
        filter = std::make_unique<NameTailFilter>(names);
    }

    void VisitUses(const UseVisitor& visit) override {
        std::vector<ProbeItem> items;
        items.reserve(rows.size());
        for (const FileRow& row : rows) items.push_back(row.item);
        // The pool copies, probes, names and closes ahead of us; rows are still taken in order.
        ProbePool pool(std::move(items), filter.get());
        std::string name;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool named = pool.TakeName(i, name);
            if (!named) name.clear();
            if (!visit(rows[i].processId, named, name, rows[i].use)) break;
        }
    }  // the pool closes every copy it made before the visit returns

  private:
    void Read();
    IndexKind Learn(const std::vector<HandleEntry>& table, const std::vector<std::size_t>& tried,
                    bool ownOnly, std::unordered_map<std::size_t, HANDLE>& fileCopies);

    OwnerProcesses owners;  // open while the snapshot lives: the pool copies from them
    std::vector<FileRow> rows;
    std::vector<HANDLE> keptCopies;          // copies made while learning types, closed at the end
    std::unique_ptr<NameTailFilter> filter;  // null: every row is named
};

// With `ownOnly`, only our own handles are asked (Unknown when there is none). A copy made to
// learn a type that turns out to be "File" is kept in `fileCopies` (by row), so that no handle
// is copied twice.
IndexKind WindowsFileHandles::Learn(const std::vector<HandleEntry>& table,
                                    const std::vector<std::size_t>& candidates, bool ownOnly,
                                    std::unordered_map<std::size_t, HANDLE>& fileCopies) {
    int witnesses = 0;
    bool isFile = false;
    for (std::size_t index : candidates) {
        const HandleEntry& entry = table[index];
        std::string typeName;
        bool read = false;
        if (entry.ProcessId == GetCurrentProcessId()) {
            read = QueryLocalObjectTypeName(entry.HandleValue, typeName);
        } else if (ownOnly) {
            break;  // our own handles come first in the list
        } else if (HANDLE owner = owners.Get(entry.ProcessId)) {
            HANDLE copy = DuplicateIntoSelf(owner, entry.HandleValue);
            if (copy) {
                read = QueryLocalObjectTypeName(copy, typeName);
                if (read && typeName == kFileType)
                    fileCopies.emplace(index, copy);
                else
                    CloseHandle(copy);
            }
        }
        if (!read) continue;
        const bool file = typeName == kFileType;
        // Two handles of one index that disagree: the index tells us nothing here.
        if (witnesses > 0 && file != isFile) return IndexKind::AskEachHandle;
        isFile = file;
        // Our own handles cost nothing to ask; another process's costs a copy, so one answer
        // from there is taken as it is.
        if (++witnesses == kTypeWitnesses || entry.ProcessId != GetCurrentProcessId()) break;
    }
    if (witnesses == 0) return ownOnly ? IndexKind::Unknown : IndexKind::AskEachHandle;
    return isFile ? IndexKind::File : IndexKind::Other;
}

void WindowsFileHandles::Read() {
    std::vector<HandleEntry> table;
    if (!ReadSystemHandleTable(table)) return;

    // Candidates to learn each index from: our own handles first (no copy needed), then the
    // first few of other processes.
    std::unordered_map<USHORT, std::vector<std::size_t>> candidates;
    const DWORD self = GetCurrentProcessId();
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < table.size(); ++i) {
            if ((table[i].ProcessId == self) != (pass == 0)) continue;
            auto& list = candidates[table[i].ObjectTypeIndex];
            if (list.size() < kTypeCandidates) list.push_back(i);
        }

    std::unordered_map<USHORT, IndexKind> kinds;
    std::unordered_map<std::size_t, HANDLE> fileCopies;
    bool fileIndexKnown = false;
    for (const auto& [typeIndex, list] : candidates) {
        kinds[typeIndex] = Learn(table, list, true, fileCopies);
        fileIndexKnown |= kinds[typeIndex] == IndexKind::File;
    }
    // Each type has one index. Once our own handles have shown the index of "File", no other
    // index can hold files, and nothing of another process needs copying to learn it.
    for (const auto& [typeIndex, list] : candidates) {
        if (kinds[typeIndex] != IndexKind::Unknown) continue;
        kinds[typeIndex] =
            fileIndexKnown ? IndexKind::Other : Learn(table, list, false, fileCopies);
    }

    for (std::size_t i = 0; i < table.size(); ++i) {
        const HandleEntry& entry = table[i];
        const IndexKind kind = kinds[entry.ObjectTypeIndex];
        if (auto kept = fileCopies.find(i); kept != fileCopies.end()) {
            // Copied while learning, and already known to be a file: used as it is.
            keptCopies.push_back(kept->second);
            rows.push_back({entry.ProcessId, {nullptr, kept->second}, UseOfRow(entry)});
            continue;
        }
        if (kind == IndexKind::Other) continue;  // never copied
        if (entry.ProcessId == self) {
            if (kind == IndexKind::AskEachHandle && !IsFile(entry.HandleValue)) continue;
            rows.push_back({entry.ProcessId, {nullptr, entry.HandleValue}, UseOfRow(entry)});
            continue;
        }
        // A process that cannot be opened keeps its handles to itself: they are left out, as
        // handles whose type cannot be read.
        HANDLE owner = owners.Get(entry.ProcessId);
        if (!owner) continue;
        if (kind == IndexKind::AskEachHandle) {
            // Rare: the type could not be learned for the index, so this handle is copied now
            // to be asked, and the copy is kept for naming.
            HANDLE copy = DuplicateIntoSelf(owner, entry.HandleValue);
            if (!copy) continue;
            if (!IsFile(copy)) {
                CloseHandle(copy);
                continue;
            }
            keptCopies.push_back(copy);
            rows.push_back({entry.ProcessId, {nullptr, copy}, UseOfRow(entry)});
            continue;
        }
        rows.push_back({entry.ProcessId, {owner, entry.HandleValue}, UseOfRow(entry)});
    }
}

}  // namespace

std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages&,
                                                           std::vector<DWORD>* deniedOwners) {
    auto snapshot = std::make_unique<WindowsFileHandles>();
    if (deniedOwners) *deniedOwners = snapshot->DeniedOwners();
    return snapshot;
}

}  // namespace vesperlin::win32

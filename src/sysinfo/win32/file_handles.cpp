#include "sysinfo/win32/file_handles.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "sysinfo/win32/handle_access.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/handle_snapshot.h"
#include "sysinfo/win32/object_types.h"
#include "sysinfo/win32/probe_pool.h"

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
        opened.emplace(processId, process);
        return process;
    }

  private:
    std::unordered_map<DWORD, HANDLE> opened;
};

// Closes our copies on a thread of its own while the rows after them are still being named:
// closing costs the platform as much as copying, and nothing waits for it. The thread is an
// ordinary one (never terminated), so it may take whatever locks closing takes.
class BackgroundCloser {
  public:
    BackgroundCloser() = default;
    BackgroundCloser(const BackgroundCloser&) = delete;
    BackgroundCloser& operator=(const BackgroundCloser&) = delete;
    ~BackgroundCloser() { Finish(); }

    // Room for this many copies; before the first Close only.
    void Prepare(std::size_t capacity) {
        if (!started) handles.resize(capacity);
    }

    // Hands one copy over; closed here at once when the thread could not be started.
    void Close(HANDLE handle) {
        if (!started && !startFailed) Start();
        if (!thread || count >= handles.size()) {
            CloseHandle(handle);
            return;
        }
        handles[count] = handle;
        InterlockedExchange(&published, static_cast<LONG>(++count));
    }

    // Waits until every handed-over copy is closed.
    void Finish() {
        if (!thread) return;
        InterlockedExchange(&finished, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }

  private:
    void Start() {
        started = true;
        thread =
            CreateThread(nullptr, 64 * 1024, Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread)
            ++handlePassCounters.threadsCreated;
        else
            startFailed = true;
    }

    static DWORD WINAPI Run(LPVOID parameter) {
        auto* self = static_cast<BackgroundCloser*>(parameter);
        LONG closed = 0;
        for (;;) {
            const LONG ready = InterlockedExchangeAdd(&self->published, 0);
            if (closed < ready) {
                CloseHandle(self->handles[closed++]);
                continue;
            }
            if (InterlockedExchangeAdd(&self->finished, 0) &&
                closed == InterlockedExchangeAdd(&self->published, 0))
                return 0;
            Sleep(1);  // nothing handed over yet; polling costs less than an event per handle
        }
    }

    std::vector<HANDLE> handles;  // sized before the thread starts, never resized
    std::size_t count = 0;
    volatile LONG published = 0;
    volatile LONG finished = 0;
    HANDLE thread = nullptr;
    bool started = false;
    bool startFailed = false;
};

// How far ahead of the visit names may be asked while a probe runs.
constexpr std::size_t kResolveAhead = 1024;

struct Resolved {
    bool done = false;
    bool named = false;
    std::string name;
};

struct FileRow {
    DWORD processId;
    HANDLE local;  // the handle in our process: a copy, or the row's own value when it is ours
    bool copied;
};

class WindowsFileHandles : public FileHandleSnapshot {
  public:
    WindowsFileHandles() {
        Read();
        closer.Prepare(rows.size());
    }
    WindowsFileHandles(const WindowsFileHandles&) = delete;
    WindowsFileHandles& operator=(const WindowsFileHandles&) = delete;
    ~WindowsFileHandles() override {
        closer.Finish();
        // Every probe pool has ended its workers by now, so no worker still uses a copy.
        for (const FileRow& row : rows)
            if (row.copied && row.local) CloseHandle(row.local);
    }

    std::size_t Count() const override { return rows.size(); }

    void VisitNames(const Visitor& visit) override {
        std::vector<HANDLE> handles;
        handles.reserve(rows.size());
        for (const FileRow& row : rows) handles.push_back(row.local);
        ProbePool probes(std::move(handles));
        ObjectReply reply;
        std::vector<Resolved> resolved(rows.size());
        const auto resolve = [&](std::size_t i, ProbeOutcome outcome) {
            // A timed-out probe's handle keeps an empty name: its name query would hang us too.
            resolved[i].named = outcome == ProbeOutcome::TimedOut ||
                                QueryLocalObjectName(rows[i].local, resolved[i].name, reply);
            if (!resolved[i].named) resolved[i].name.clear();
            resolved[i].done = true;
        };
        for (std::size_t i = 0; i < rows.size(); ++i) {
            while (!resolved[i].done) {
                ProbeOutcome outcome;
                if (probes.Poll(i, outcome)) {
                    resolve(i, outcome);
                    break;
                }
                // While this row's probe runs, name the rows after it whose probes are done,
                // rather than wait: that is how hung handles cost one time limit together.
                bool resolvedAhead = false;
                const std::size_t end = std::min(rows.size(), i + kResolveAhead);
                for (std::size_t j = i + 1; j < end && !resolved[i].done; ++j) {
                    if (resolved[j].done || !probes.Poll(j, outcome)) continue;
                    resolve(j, outcome);
                    resolvedAhead = true;
                    if (probes.Poll(i, outcome)) resolve(i, outcome);
                }
                if (!resolvedAhead && !resolved[i].done) resolve(i, probes.Await(i));
            }
            Resolved row = std::move(resolved[i]);
            // Answered: no worker touches this copy again, so it can go now.
            if (rows[i].copied && rows[i].local) {
                closer.Close(rows[i].local);
                rows[i].local = nullptr;
            }
            if (!visit(rows[i].processId, row.named, row.name)) break;
        }
    }

  private:
    void Read();
    IndexKind Learn(const std::vector<HandleEntry>& table, const std::vector<std::size_t>& tried,
                    bool ownOnly, OwnerProcesses& owners,
                    std::unordered_map<std::size_t, HANDLE>& fileCopies);
    bool Bring(const HandleEntry& entry, OwnerProcesses& owners, HANDLE& local, bool& copied);

    std::vector<FileRow> rows;
    BackgroundCloser closer;
};

bool WindowsFileHandles::Bring(const HandleEntry& entry, OwnerProcesses& owners, HANDLE& local,
                               bool& copied) {
    if (entry.ProcessId == GetCurrentProcessId()) {
        local = entry.HandleValue;
        copied = false;
        return true;
    }
    HANDLE owner = owners.Get(entry.ProcessId);
    if (!owner) return false;
    local = DuplicateIntoSelf(owner, entry.HandleValue);
    copied = true;
    return local != nullptr;
}

// With `ownOnly`, only our own handles are asked (Unknown when there is none). A copy made to
// learn a type that turns out to be "File" is kept in `fileCopies` (by row), so that no handle
// is copied twice.
IndexKind WindowsFileHandles::Learn(const std::vector<HandleEntry>& table,
                                    const std::vector<std::size_t>& candidates, bool ownOnly,
                                    OwnerProcesses& owners,
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

    OwnerProcesses owners;
    std::unordered_map<USHORT, IndexKind> kinds;
    std::unordered_map<std::size_t, HANDLE> fileCopies;
    bool fileIndexKnown = false;
    for (const auto& [typeIndex, list] : candidates) {
        kinds[typeIndex] = Learn(table, list, true, owners, fileCopies);
        fileIndexKnown |= kinds[typeIndex] == IndexKind::File;
    }
    // Each type has one index. Once our own handles have shown the index of "File", no other
    // index can hold files, and nothing of another process needs copying to learn it.
    for (const auto& [typeIndex, list] : candidates) {
        if (kinds[typeIndex] != IndexKind::Unknown) continue;
        kinds[typeIndex] =
            fileIndexKnown ? IndexKind::Other : Learn(table, list, false, owners, fileCopies);
    }

    for (std::size_t i = 0; i < table.size(); ++i) {
        const HandleEntry& entry = table[i];
        const IndexKind kind = kinds[entry.ObjectTypeIndex];
        FileRow row{entry.ProcessId, nullptr, false};
        if (auto kept = fileCopies.find(i); kept != fileCopies.end()) {
            // Copied while learning, and already known to be a file.
            row.local = kept->second;
            row.copied = true;
            rows.push_back(row);
            continue;
        }
        if (kind == IndexKind::Other) continue;  // never copied
        // A handle that cannot be brought over is left out, as one whose type cannot be read.
        if (!Bring(entry, owners, row.local, row.copied)) continue;
        if (kind == IndexKind::AskEachHandle) {
            std::string typeName;
            if (!QueryLocalObjectTypeName(row.local, typeName) || typeName != kFileType) {
                if (row.copied) CloseHandle(row.local);
                continue;
            }
        }
        rows.push_back(row);
    }
    // The owners close here; the copies live until the snapshot goes.
}

}  // namespace

std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages&) {
    return std::make_unique<WindowsFileHandles>();
}

}  // namespace vesperlin::win32

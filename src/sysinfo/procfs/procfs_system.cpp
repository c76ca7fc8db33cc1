#include "sysinfo/procfs/procfs_system.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>
#include <unordered_map>

#include "sysinfo/platform_system.h"
#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/procfs/maps_reader.h"
#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin {

std::unique_ptr<System> CreatePlatformSystem(Messages& messages) {
    return std::make_unique<procfs::ProcfsSystem>(messages);
}

namespace procfs {

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

std::string_view WithoutDeletedSuffix(std::string_view path) {
    if (path.ends_with(deletedSuffix)) path.remove_suffix(deletedSuffix.size());
    return path;
}

// The process list; names are read on first lookup, since a query looks up only its hits.
class ProcfsProcessNames : public ProcessNames {
  public:
    ProcfsProcessNames(UniqueFd procFd, std::vector<ProcessId> ids)
        : procFd(std::move(procFd)), ids(std::move(ids)) {}

    bool Lookup(ProcessId processId, std::string& imageName) const override {
        if (!std::binary_search(ids.begin(), ids.end(), processId)) return false;
        auto [it, inserted] = names.try_emplace(processId);
        if (inserted) {
            std::string name;
            if (ReadImageName(procFd.Get(), processId, name)) it->second = std::move(name);
        }
        if (!it->second) return false;
        imageName = *it->second;
        return true;
    }

  private:
    UniqueFd procFd;
    std::vector<ProcessId> ids;  // ascending, as /proc lists them
    mutable std::unordered_map<ProcessId, std::optional<std::string>> names;
};

class ProcfsHandleSnapshot : public FileHandleSnapshot {
  public:
    explicit ProcfsHandleSnapshot(std::vector<HandleRow> rows) : rows(std::move(rows)) {}

    std::size_t Count() const override { return rows.size(); }

    void VisitNames(const Visitor& visit) override {
        std::string name;  // one buffer for every row: no allocation per handle
        for (const HandleRow& row : rows) {
            name.clear();
            AppendIdentityText(row.identity, name);
            if (!visit(row.processId, true, name)) return;
        }
    }

  private:
    std::vector<HandleRow> rows;
};

bool ListIds(int procFd, std::vector<ProcessId>& ids) {
    if (!ListProcessIds(procFd, ids)) return false;
    // /proc lists in ascending order already; lookups rely on it, so make sure.
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
    return true;
}

// Adds one process's modules: the executable, then every file-backed mapping, each path once.
// False when the user may not read the process's mappings.
bool AddProcessModules(int procFd, ProcessId processId, ModuleTable& table, std::string& maps,
                       std::string& linkText, MapsEntry& entry,
                       std::vector<const std::string*>& seen, std::vector<ModuleRecord>& modules) {
    char path[32];
    int errorCode = 0;
    seen.clear();
    if (!ReadWholeFile(procFd, ProcessEntryPath(path, processId, "maps"), maps, errorCode)) {
        return !IsAccessDenied(errorCode);
    }
    if (ReadLinkText(procFd, ProcessEntryPath(path, processId, "exe"), linkText, errorCode)) {
        bool deleted = linkText.ends_with(deletedSuffix);
        const std::string* exe = table.Intern(linkText, deleted, nullptr);
        seen.push_back(exe);
        modules.push_back(ModuleRecord{processId, *exe});
    }
    std::string_view rest = maps;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!ParseMapsLine(line, entry)) continue;
        // Consecutive lines of one file are the rule; keep the scan of `seen` for the others.
        if (!seen.empty() && *seen.back() == entry.path) continue;
        const std::string* interned = table.Intern(entry.path, entry.deleted, &entry.identity);
        if (std::find(seen.begin(), seen.end(), interned) != seen.end()) continue;
        seen.push_back(interned);
        modules.push_back(ModuleRecord{processId, *interned});
    }
    return true;
}

}  // namespace

bool ReadImageName(int procFd, ProcessId processId, std::string& imageName) {
    char path[32];
    int errorCode = 0;
    std::string text;
    if (ReadLinkText(procFd, ProcessEntryPath(path, processId, "exe"), text, errorCode)) {
        std::string_view exe = WithoutDeletedSuffix(text);
        std::size_t slash = exe.rfind('/');
        imageName.assign(slash == std::string_view::npos ? exe : exe.substr(slash + 1));
        return true;
    }
    if (ReadWholeFile(procFd, ProcessEntryPath(path, processId, "comm"), text, errorCode)) {
        if (!text.empty() && text.back() == '\n') text.pop_back();
        imageName = std::move(text);
        return true;
    }
    return false;
}

ProcfsSystem::ProcfsSystem(Messages& messages) : messages(messages) {}

std::unique_ptr<ProcessNames> ProcfsSystem::TakeProcessSnapshot() {
    UniqueFd procFd = OpenProcRoot();
    std::vector<ProcessId> ids;
    if (!procFd.Valid() || !ListIds(procFd.Get(), ids)) {
        messages.Show("Couldn't query system information.");
        ids.clear();
    }
    return std::make_unique<ProcfsProcessNames>(std::move(procFd), std::move(ids));
}

bool ProcfsSystem::TakeModuleSnapshot(std::vector<ModuleRecord>& modules) {
    modules.clear();
    moduleTable.Clear();
    moduleDenied.clear();
    UniqueFd procFd = OpenProcRoot();
    std::vector<ProcessId> ids;
    if (!procFd.Valid() || !ListIds(procFd.Get(), ids)) {
        messages.Show("Couldn't query system information.");
        messages.Show("Can't get process information start position.");
        return false;
    }
    std::string maps, linkText;
    MapsEntry entry;
    std::vector<const std::string*> seen;
    for (ProcessId processId : ids) {
        if (!AddProcessModules(procFd.Get(), processId, moduleTable, maps, linkText, entry, seen,
                               modules)) {
            moduleDenied.push_back(processId);
        }
    }
    return true;
}

std::unique_ptr<FileHandleSnapshot> ProcfsSystem::TakeFileHandleSnapshot() {
    handleDenied.clear();
    std::vector<HandleRow> rows;
    UniqueFd procFd = OpenProcRoot();
    std::vector<ProcessId> ids;
    if (!procFd.Valid() || !ListIds(procFd.Get(), ids)) {
        messages.Show("Couldn't query system information.");
    } else {
        WalkFileHandles(procFd.Get(), ids, pseudoDevices, rows, handleDenied);
    }
    return std::make_unique<ProcfsHandleSnapshot>(std::move(rows));
}

bool ProcfsSystem::GetFullPath(const std::string& path, std::string& fullPath) {
    if (path.empty()) return false;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return false;
    fullPath = resolved;
    return true;
}

bool ProcfsSystem::GetDeviceFileName(const std::string& path, std::string& deviceForm) {
    std::optional<FileIdentity> identity = IdentityOfPath(path);
    if (!identity) return false;
    deviceForm = IdentityText(*identity);
    return true;
}

bool ProcfsSystem::ModuleMatches(const std::string& modulePath, const std::string& fullPath) {
    return moduleTable.Matches(modulePath, fullPath);
}

bool ProcfsSystem::HandleMatches(const std::string& handleName, const std::string& deviceForm,
                                 const std::string&) {
    return !deviceForm.empty() && handleName == deviceForm;
}

PathKind ProcfsSystem::Classify(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return PathKind::Unreadable;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool ProcfsSystem::ListFolder(const std::string& fullPath, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = opendir(fullPath.c_str());
    if (dir == nullptr) return false;
    bool complete = true;
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (entry == nullptr) {
            complete = errno == 0;
            break;
        }
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    if (!complete) names.clear();
    return complete;
}

std::string ProcfsSystem::JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string ProcfsSystem::FileNamePart(const std::string& path) {
    // A trailing slash ("dir/") would leave an empty name: the name is that of the folder.
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path;  // "" or only slashes
    std::size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

std::size_t ProcfsSystem::InaccessibleProcessCount() const {
    std::vector<ProcessId> modules = moduleDenied, handles = handleDenied;
    std::sort(modules.begin(), modules.end());
    std::sort(handles.begin(), handles.end());
    std::vector<ProcessId> all;
    std::set_union(modules.begin(), modules.end(), handles.begin(), handles.end(),
                   std::back_inserter(all));
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all.size();
}

}  // namespace procfs
}  // namespace vesperlin

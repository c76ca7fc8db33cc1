#include "sysinfo/procfs/procfs_system.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>
#include <span>
#include <unordered_map>

#include "sysinfo/platform_system.h"
#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/procfs/module_walk.h"
#include "sysinfo/procfs/proc_dir.h"
#include "sysinfo/procfs/slices.h"

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

// The rows stay in the slices that found them (joined in slice order when visited), so the
// snapshot never holds two copies of the table.
class ProcfsHandleSnapshot : public FileHandleSnapshot {
  public:
    explicit ProcfsHandleSnapshot(std::vector<std::vector<HandleRow>> slices)
        : slices(std::move(slices)) {}

    std::size_t Count() const override {
        std::size_t count = 0;
        for (const auto& rows : slices) count += rows.size();
        return count;
    }

    void VisitNames(const Visitor& visit) override {
        std::string name;  // one buffer for every row: no allocation per handle
        for (const auto& rows : slices) {
            for (const HandleRow& row : rows) {
                name.clear();
                AppendIdentityText(row.identity, name);
                if (!visit(row.processId, true, name)) return;
            }
        }
    }

  private:
    std::vector<std::vector<HandleRow>> slices;
};

bool ListIds(int procFd, std::vector<ProcessId>& ids) {
    if (!ListProcessIds(procFd, ids)) return false;
    // /proc lists in ascending order already; lookups rely on it, so make sure.
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
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
    const std::size_t slices = SliceCountFor(ids.size());
    std::vector<std::vector<MappedModule>> found(slices);
    std::vector<std::vector<ProcessId>> denied(slices);
    RunSlices(ids.size(), slices, [&](std::size_t slice, std::size_t begin, std::size_t end) {
        WalkModules(procFd.Get(), std::span(ids).subspan(begin, end - begin), found[slice],
                    denied[slice]);
    });
    for (std::size_t slice = 0; slice < slices; ++slice) {
        for (const MappedModule& module : found[slice]) {
            const std::string* path =
                moduleTable.Intern(module.path, module.deleted,
                                   module.haveMapsIdentity ? &module.mapsIdentity : nullptr);
            modules.push_back(ModuleRecord{module.processId, *path});
        }
        found[slice] = {};  // keep the peak low: each slice goes once it is copied
        moduleDenied.insert(moduleDenied.end(), denied[slice].begin(), denied[slice].end());
    }
    return true;
}

std::unique_ptr<FileHandleSnapshot> ProcfsSystem::TakeFileHandleSnapshot() {
    handleDenied.clear();
    UniqueFd procFd = OpenProcRoot();
    std::vector<ProcessId> ids;
    if (!procFd.Valid() || !ListIds(procFd.Get(), ids)) {
        messages.Show("Couldn't query system information.");
        return std::make_unique<ProcfsHandleSnapshot>(std::vector<std::vector<HandleRow>>{});
    }
    const std::size_t slices = SliceCountFor(ids.size());
    std::vector<std::vector<HandleRow>> found(slices);
    std::vector<std::vector<ProcessId>> denied(slices);
    RunSlices(ids.size(), slices, [&](std::size_t slice, std::size_t begin, std::size_t end) {
        WalkFileHandles(procFd.Get(), std::span(ids).subspan(begin, end - begin), pseudoDevices,
                        found[slice], denied[slice]);
    });
    for (const auto& part : denied)
        handleDenied.insert(handleDenied.end(), part.begin(), part.end());
    return std::make_unique<ProcfsHandleSnapshot>(std::move(found));
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
    const bool complete = ReadEntries(dir, [&](const char* name) { names.emplace_back(name); });
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

#include "sysinfo/procfs/procfs_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <memory>
#include <span>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "sysinfo/platform_system.h"
#include "sysinfo/procfs/fdinfo.h"
#include "sysinfo/procfs/file_identity.h"
#include "sysinfo/procfs/module_walk.h"
#include "sysinfo/procfs/path_walk.h"
#include "sysinfo/procfs/process_details.h"
#include "sysinfo/procfs/proc_dir.h"
#include "sysinfo/procfs/slices.h"
#include "sysinfo/procfs/unix_sockets.h"

namespace vesperlin::sysinfo {

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

// The device of a scope form or of a handle name ("dev:ino"): the decimal number before any
// colon.
bool DeviceOfText(std::string_view text, dev_t& dev) {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) text = text.substr(0, colon);
    if (text.empty() || text.size() > 20) return false;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    dev = static_cast<dev_t>(value);
    return true;
}

// Device forms of a socket file list the file's identity and those of the sockets bound to it.
constexpr char kFormSeparator = ',';

// What a descriptor was opened for, read when it is visited. False when the descriptor is no
// longer the one the walk saw (closed, its number reused) or its fdinfo cannot be read.
bool ReadDescriptorAccess(int procFd, const HandleRow& row, std::uint8_t& access) {
    char leaf[32], path[48];
    std::snprintf(leaf, sizeof(leaf), "fd/%d", static_cast<int>(row.descriptor));
    struct stat st;
    if (fstatat(procFd, ProcessEntryPath(path, row.processId, leaf), &st, 0) != 0 ||
        FileIdentity{st.st_dev, st.st_ino} != row.identity) {
        return false;
    }
    std::snprintf(leaf, sizeof(leaf), "fdinfo/%d", static_cast<int>(row.descriptor));
    std::string text;
    int errorCode = 0;
    unsigned flags = 0;
    if (!ReadWholeFile(procFd, ProcessEntryPath(path, row.processId, leaf), text, errorCode) ||
        !ParseFdinfoFlags(text, flags)) {
        return false;
    }
    access = AccessOfOpenFlags(flags);
    return true;
}

// The rows stay in the slices that found them (joined in slice order when visited), so the
// snapshot never holds two copies of the table. A row's access is read as it is visited, and
// once a limit is set only for rows that may be a target: it costs two reads of /proc.
class ProcfsHandleSnapshot : public FileHandleSnapshot {
  public:
    ProcfsHandleSnapshot(UniqueFd procFd, std::vector<std::vector<HandleRow>> slices)
        : procFd(std::move(procFd)), slices(std::move(slices)) {}

    std::size_t Count() const override {
        std::size_t count = 0;
        for (const auto& rows : slices) count += rows.size();
        return count;
    }

    void LimitNamesTo(std::vector<HandleTarget> targets) override {
        limited = true;
        wanted.clear();
        wantedDevices.clear();
        for (const HandleTarget& target : targets) {
            if (target.scope != Scope::Exact) {
                // Every row on the scope's device may lie in it; its form is that device.
                dev_t dev = 0;
                if (DeviceOfText(target.deviceForm, dev)) wantedDevices.insert(dev);
                continue;
            }
            std::string_view form = target.deviceForm;
            while (!form.empty()) {
                const std::size_t cut = form.find(kFormSeparator);
                wanted.emplace(form.substr(0, cut));
                form.remove_prefix(cut == std::string_view::npos ? form.size() : cut + 1);
            }
        }
    }

    void VisitUses(const UseVisitor& visit) override {
        std::string name;  // one buffer for every row: no allocation per handle
        for (const auto& rows : slices) {
            for (const HandleRow& row : rows) {
                name.clear();
                AppendIdentityText(row.identity, name);
                FileUse use;
                if (row.descriptor == kCurrentFolderRow) {
                    use.kind = UseKind::CurrentFolder;
                } else if (row.descriptor == kRootFolderRow) {
                    use.kind = UseKind::RootFolder;
                } else {
                    use.kind = UseKind::Descriptor;
                    use.number = static_cast<std::uint64_t>(row.descriptor);
                    if (!limited || wanted.count(name) || wantedDevices.count(row.identity.dev)) {
                        use.accessKnown = ReadDescriptorAccess(procFd.Get(), row, use.access);
                    }
                }
                if (!visit(row.processId, true, name, use)) return;
            }
        }
    }

  private:
    UniqueFd procFd;
    std::vector<std::vector<HandleRow>> slices;
    bool limited = false;
    std::unordered_set<std::string> wanted;   // identity texts of the targets
    std::unordered_set<dev_t> wantedDevices;  // devices of the wider targets
};

// `path` made absolute from the current folder, without "." names, empty names and a trailing
// separator; ".." is kept, as only the file system knows where it leads. Empty when the
// current folder cannot be read.
std::string AbsolutePath(const std::string& path) {
    std::string absolute;
    if (path.empty() || path[0] != '/') {
        // The C library's getcwd reads current folders of any length.
        std::unique_ptr<char, decltype(&free)> current(getcwd(nullptr, 0), &free);
        if (!current) return std::string();
        absolute = current.get();
    }
    std::string_view rest = path;
    while (!rest.empty()) {
        const std::size_t cut = rest.find('/');
        const std::string_view name = rest.substr(0, cut);
        rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
        if (name.empty() || name == ".") continue;
        if (absolute.empty() || absolute.back() != '/') absolute += '/';
        absolute += name;
    }
    return absolute.empty() ? "/" : absolute;
}

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
            FileUse use = UseOf(module.executable ? UseKind::Executable : UseKind::Mapping);
            use.mappings = module.mappings;
            modules.push_back(ModuleRecord{module.processId, *path, use});
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
        return std::make_unique<ProcfsHandleSnapshot>(UniqueFd(),
                                                      std::vector<std::vector<HandleRow>>{});
    }
    const std::size_t slices = SliceCountFor(ids.size());
    std::vector<std::vector<HandleRow>> found(slices);
    std::vector<std::vector<ProcessId>> denied(slices);
    RunSlices(ids.size(), slices, [&](std::size_t slice, std::size_t begin, std::size_t end) {
        WalkFileHandles(procFd.Get(), std::span(ids).subspan(begin, end - begin), kernelDevices,
                        found[slice], denied[slice]);
    });
    for (const auto& part : denied)
        handleDenied.insert(handleDenied.end(), part.begin(), part.end());
    return std::make_unique<ProcfsHandleSnapshot>(std::move(procFd), std::move(found));
}

bool ProcfsSystem::GetFullPath(const std::string& path, std::string& fullPath) {
    // The path is what is shown; the file it names is what is matched. Every answer is checked
    // to name the same file, so that the module pass, which looks the full path up again,
    // compares the right one.
    const std::optional<FileIdentity> identity = IdentityOfPath(path);
    if (!identity) return false;
    auto sameFile = [&](const std::string& candidate) {
        return IdentityOfPath(candidate) == identity;
    };
    char resolved[PATH_MAX];
    if (path.size() < PATH_MAX && realpath(path.c_str(), resolved) != nullptr &&
        sameFile(resolved)) {
        fullPath = resolved;
        return true;
    }
    // No canonical path names the file: the path is too long for the kernel's limit, or it
    // ends in a link of /proc whose text is no path (a deleted file, a pipe, a socket) or
    // names another file by now. The folder part is resolved where it can be, the last name
    // kept: /proc/self/fd/3 becomes /proc/1234/fd/3.
    const std::string absolute = AbsolutePath(path);
    if (absolute.empty()) return false;
    const std::size_t slash = absolute.rfind('/');
    const std::string folder = slash == 0 ? "/" : absolute.substr(0, slash);
    const std::string last = absolute.substr(slash + 1);
    if (!last.empty() && last != ".." && folder.size() < PATH_MAX &&
        realpath(folder.c_str(), resolved) != nullptr) {
        const std::string candidate = JoinPath(resolved, last);
        if (sameFile(candidate)) {
            fullPath = candidate;
            return true;
        }
    }
    if (!sameFile(absolute)) return false;
    fullPath = absolute;
    return true;
}

bool ProcfsSystem::GetDeviceFileName(const std::string& path, std::string& deviceForm) {
    struct stat st;
    if (StatAnyLength(path, st) != 0) return false;
    // Every anonymous-inode object shares this identity with all others of its kind.
    if (kernelDevices.SharesInodes(st.st_dev)) return false;
    const FileIdentity identity{st.st_dev, st.st_ino};
    std::string form = IdentityText(identity);
    // A socket file is used through the sockets bound to it.
    dev_t socketDevice = 0;
    if (S_ISSOCK(st.st_mode) && kernelDevices.SocketDevice(socketDevice) &&
        st.st_dev != socketDevice) {
        for (const FileIdentity& socket : SocketsBoundTo(identity, socketDevice)) {
            form += kFormSeparator;
            AppendIdentityText(socket, form);
        }
    }
    deviceForm = std::move(form);
    return true;
}

bool ProcfsSystem::ModuleMatches(const std::string& modulePath, const std::string& fullPath) {
    return moduleTable.Matches(modulePath, fullPath);
}

bool ProcfsSystem::HandleMatches(const std::string& handleName, const std::string& deviceForm,
                                 const std::string&) {
    if (deviceForm.empty() || handleName.empty()) return false;
    std::string_view form = deviceForm;
    while (!form.empty()) {
        const std::size_t cut = form.find(kFormSeparator);
        if (form.substr(0, cut) == handleName) return true;
        form.remove_prefix(cut == std::string_view::npos ? form.size() : cut + 1);
    }
    return false;
}

bool ProcfsSystem::ExactHandleNames(const std::string& deviceForm,
                                    std::vector<std::string>& names) {
    // The same rule as HandleMatches: one of the identities the form lists.
    names.clear();
    std::string_view form = deviceForm;
    while (!form.empty()) {
        const std::size_t cut = form.find(kFormSeparator);
        if (cut != 0) names.emplace_back(form.substr(0, cut));
        form.remove_prefix(cut == std::string_view::npos ? form.size() : cut + 1);
    }
    return true;
}

PathKind ProcfsSystem::Classify(const std::string& path) {
    struct stat st;
    if (StatAnyLength(path, st) != 0) return PathKind::Unreadable;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool ProcfsSystem::ListFolder(const std::string& fullPath, std::vector<std::string>& names) {
    names.clear();
    UniqueFd folder(OpenAnyLength(fullPath, O_RDONLY | O_DIRECTORY));
    if (!folder.Valid()) return false;
    DIR* dir = fdopendir(folder.Get());
    if (dir == nullptr) return false;
    folder.Release();  // the stream owns it now
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

ProcessId ProcfsSystem::OwnProcessId() const {
    return static_cast<ProcessId>(getpid());
}

std::string ProcfsSystem::DescribePathFailure(const std::string& path) {
    struct stat st;
    int error = StatAnyLength(path, st, false);
    if (error == 0 && S_ISLNK(st.st_mode)) {
        error = StatAnyLength(path, st, true);
        if (error == ENOENT) return "a symbolic link that leads nowhere";
        if (error == ELOOP) return "a loop of symbolic links";
    }
    if (error == ENOENT) return "no such file or folder";
    if (error != 0) return std::generic_category().message(error);
    if (kernelDevices.SharesInodes(st.st_dev)) {
        return "an anonymous kernel object, which nothing tells apart from others of its kind";
    }
    return "its full path cannot be formed";
}

namespace {

// Whether `path` is `folder` or lies under it, by text: both are canonical paths.
bool IsUnder(std::string_view path, const std::string& folder) {
    if (folder == "/") return !path.empty() && path[0] == '/';
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

int ProcfsSystem::ProcRoot() {
    if (!procRoot.Valid()) procRoot = OpenProcRoot();
    return procRoot.Get();
}

bool ProcfsSystem::GetScopeForm(const std::string& fullPath, Scope, std::string& scopeForm) {
    struct stat st;
    if (StatAnyLength(fullPath, st) != 0) return false;
    scopeForm = std::to_string(static_cast<unsigned long long>(st.st_dev));
    return true;
}

bool ProcfsSystem::ModuleInScope(const std::string& modulePath, const HandleTarget& target) {
    dev_t dev = 0;
    if (!DeviceOfText(target.deviceForm, dev)) return false;
    // The text first: it is free, and rules out nearly every module of a folder query.
    if (target.scope == Scope::Under && !IsUnder(WithoutDeletedSuffix(modulePath), target.fullPath))
        return false;
    const std::optional<FileIdentity> identity = moduleTable.ModuleIdentity(modulePath);
    return identity && identity->dev == dev;
}

bool ProcfsSystem::HandleInScope(ProcessId processId, const std::string& handleName,
                                 const FileUse& use, const HandleTarget& target,
                                 std::string& shownPath) {
    dev_t wanted = 0, dev = 0;
    if (!DeviceOfText(target.deviceForm, wanted) || !DeviceOfText(handleName, dev) || dev != wanted)
        return false;
    // Only rows on the right device get their link read: that is what names the file.
    char leaf[32], path[48];
    switch (use.kind) {
        case UseKind::CurrentFolder:
            std::snprintf(leaf, sizeof leaf, "cwd");
            break;
        case UseKind::RootFolder:
            std::snprintf(leaf, sizeof leaf, "root");
            break;
        case UseKind::Descriptor:
            std::snprintf(leaf, sizeof leaf, "fd/%llu",
                          static_cast<unsigned long long>(use.number));
            break;
        default:
            return false;
    }
    std::string text;
    int errorCode = 0;
    if (!ReadLinkText(ProcRoot(), ProcessEntryPath(path, processId, leaf), text, errorCode)) {
        // Gone meanwhile: on the right file system still, but nothing to show for a folder.
        if (target.scope == Scope::Under) return false;
        text = handleName;
    }
    if (target.scope == Scope::Under && !IsUnder(WithoutDeletedSuffix(text), target.fullPath))
        return false;
    shownPath = std::move(text);
    return true;
}

bool ProcfsSystem::DescribeProcess(ProcessId processId, ProcessDetails& details) {
    return ReadProcessDetails(ProcRoot(), processId, details);
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
}  // namespace vesperlin::sysinfo

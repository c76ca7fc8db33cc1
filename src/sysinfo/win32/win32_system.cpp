#include "sysinfo/win32/win32_system.h"

#include <windows.h>

#include <algorithm>

#include "base/win32/wide_text.h"
#include "base/grow_buffer.h"
#include "sysinfo/device_path.h"
#include "sysinfo/platform_system.h"
#include "sysinfo/win32/dos_devices.h"
#include "sysinfo/win32/file_handles.h"
#include "sysinfo/win32/final_path.h"
#include "sysinfo/win32/mapped_files.h"
#include "sysinfo/win32/module_snapshot.h"
#include "sysinfo/win32/process_details.h"
#include "sysinfo/win32/process_snapshot.h"
#include "base/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::sysinfo {

namespace win32 {

namespace {

// Long-path aware: a full path may be far longer than MAX_PATH, but not longer than the
// largest size. A call that did not fit answers the size it needs; the current folder may
// have changed meanwhile, so the next answer is checked again, a few times at most.
constexpr base::GrowLimits kFullPathLimits{MAX_PATH, 1 << 16, 1, 4};

class ProcessImageNames : public ProcessNames {
  public:
    explicit ProcessImageNames(Messages& messages) : snapshot(messages) { snapshot.Refresh(); }

    bool Lookup(ProcessId processId, std::string& imageName) const override {
        const ProcessEntry* entry = snapshot.Lookup(processId);
        if (!entry) return false;
        // Listed, so found, even when its name cannot be read.
        snapshot.ImageName(*entry, imageName);
        return true;
    }

  private:
    ProcessSnapshot snapshot;
};

// Whether a named pipe of that name exists, without connecting to it: waiting for a free
// instance either finds one, runs out of time (every instance busy) or finds no pipe.
bool NamedPipeExists(const std::string& path) {
    std::wstring name = base::WideFromNarrow(path);
    name[2] = L'.';  // \\?\pipe\x is \\.\pipe\x to the pipe functions
    return WaitNamedPipeW(name.c_str(), 1) || GetLastError() == ERROR_SEM_TIMEOUT;
}

}  // namespace

std::unique_ptr<ProcessNames> Win32System::TakeProcessSnapshot() {
    return std::make_unique<ProcessImageNames>(messages);
}

bool Win32System::TakeModuleSnapshot(std::vector<ModuleRecord>& modules) {
    modules.clear();
    moduleFinalPaths.clear();
    ModuleSnapshot snapshot(messages, AllProcesses);
    const bool ok = snapshot.Refresh();
    moduleDenied = snapshot.DeniedProcesses();
    if (!ok) return false;
    modules.reserve(snapshot.Entries().size());
    for (const ModuleEntry& entry : snapshot.Entries())
        modules.push_back(ModuleRecord{entry.ProcessId, entry.Path});
    return true;
}

std::unique_ptr<FileHandleSnapshot> Win32System::TakeFileHandleSnapshot() {
    return win32::TakeFileHandleSnapshot(messages, &handleDenied);
}

bool Win32System::TakeMappedFileSnapshot(const std::vector<HandleTarget>& targets,
                                         const std::vector<ProcessId>& reported,
                                         std::vector<MappedFileRecord>& mapped) {
    mapped.clear();
    // Names are asked of every view anyway; the filter only spares converting and comparing
    // the many that cannot be a target (locale tables, fonts, caches).
    std::vector<std::u16string> names;
    for (const HandleTarget& target : targets)
        for (const std::string& name : WindowsHandleNames(target.deviceForm, target.fullPath)) {
            const std::wstring wide = base::WideFromNarrow(name);
            names.emplace_back(wide.begin(), wide.end());
        }
    MappedFileSnapshot snapshot(messages);
    // A wider scope may be any file's name: no tail tells them apart.
    const bool wider = std::any_of(targets.begin(), targets.end(),
                                   [](const HandleTarget& t) { return t.scope != Scope::Exact; });
    if (!wider) snapshot.LimitNamesTo(std::make_unique<NameTailFilter>(names));
    snapshot.Skip(std::vector<DWORD>(reported.begin(), reported.end()));
    const bool ok = snapshot.Refresh();
    mappedDenied = snapshot.DeniedProcesses();
    if (!ok) return false;
    mapped.reserve(snapshot.Entries().size());
    for (const MappedFileEntry& entry : snapshot.Entries())
        mapped.push_back(MappedFileRecord{entry.ProcessId, entry.Name});
    return true;
}

bool Win32System::GetFullPath(const std::string& path, std::string& fullPath) {
    // The wide function: the 8-bit ones stop at MAX_PATH wherever long paths are not enabled
    // system-wide (and always under Wine). The answer is either the length written or, when it
    // did not fit, the size needed; only a buffer that was really filled is ever returned.
    const std::wstring widePath = base::WideFromNarrow(path);
    if (widePath.empty()) return false;
    std::wstring buffer;
    const base::GrowResult read = base::GrowBuffer(kFullPathLimits, [&](std::size_t size) {
        buffer.assign(size, L'\0');
        const DWORD length =
            GetFullPathNameW(widePath.c_str(), static_cast<DWORD>(size), buffer.data(), nullptr);
        if (length == 0) return base::TryResult::Failed();
        return length < size ? base::TryResult::Fits(length) : base::TryResult::TooSmall(length);
    });
    if (!read.Fits()) return false;
    // C:\dir\ names C:\dir; and the system's own path for the file is the one module paths
    // and handle names carry, whatever spelling reached it.
    std::string full =
        TrimTrailingSeparators(base::NarrowFromWide(std::wstring_view(buffer.data(), read.used)));
    FinalPaths finals;
    if (GetFinalPaths(full, finals) && !finals.dosPath.empty())
        full = FullPathOfFinalPath(finals.dosPath);
    fullPath = std::move(full);
    return true;
}

bool Win32System::GetDeviceFileName(const std::string& path, std::string& deviceForm) {
    const std::string trimmed = TrimTrailingSeparators(path);
    // The file as the system knows it, when it can be opened: its final device path, and the
    // device form of its final DOS path, which differs for a file reached through a mapped
    // drive. Otherwise the path's own translation.
    std::vector<std::string> forms;
    FinalPaths finals;
    if (GetFinalPaths(trimmed, finals)) {
        if (!finals.ntPath.empty()) forms.push_back(finals.ntPath);
        std::string translated;
        if (!finals.dosPath.empty() &&
            win32::GetDeviceFileName(FullPathOfFinalPath(finals.dosPath), translated) &&
            (forms.empty() || !EqualIgnoringCase(translated, forms[0]))) {
            forms.push_back(std::move(translated));
        }
    }
    if (forms.empty()) return win32::GetDeviceFileName(trimmed, deviceForm);
    std::string joined = forms[0];
    for (std::size_t i = 1; i < forms.size(); ++i) joined += kDeviceFormSeparator + forms[i];
    deviceForm = std::move(joined);
    return true;
}

bool Win32System::ModuleMatches(const std::string& modulePath, const std::string& fullPath) {
    if (EqualIgnoringCase(modulePath, fullPath)) return true;
    // A module loaded through a folder link or by a short name carries that spelling, while
    // the full path asked for is the system's own: they are one file when the module's final
    // path is that too. Only a module whose name may be the file's is opened to find out, and
    // each module path once per module snapshot.
    const bool shortName = modulePath.find('~') != std::string::npos;
    if (!shortName && !EqualIgnoringCase(FileNamePart(modulePath), FileNamePart(fullPath)))
        return false;
    auto [known, inserted] = moduleFinalPaths.try_emplace(modulePath);
    if (inserted) {
        FinalPaths finals;
        if (GetFinalPaths(modulePath, finals) && !finals.dosPath.empty())
            known->second = FullPathOfFinalPath(finals.dosPath);
    }
    return !known->second.empty() && EqualIgnoringCase(known->second, fullPath);
}

bool Win32System::HandleMatches(const std::string& handleName, const std::string& deviceForm,
                                const std::string& fullPath) {
    for (const std::string& name : WindowsHandleNames(deviceForm, fullPath))
        if (EqualIgnoringCase(handleName, name)) return true;
    return false;
}

PathKind Win32System::Classify(const std::string& path) {
    // Asking a pipe for its attributes would open it, and so take an instance from its server.
    if (IsNamedPipePath(path)) return NamedPipeExists(path) ? PathKind::File : PathKind::Unreadable;
    const DWORD attributes = GetFileAttributesW(base::WideFromNarrow(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Unreadable;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// Wide calls for the same reason as GetFullPath: long paths.
bool Win32System::ListFolder(const std::string& fullPath, std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAW found;
    base::UniqueFind find(
        FindFirstFileW(base::WideFromNarrow(JoinPath(fullPath, "*.*")).c_str(), &found));
    if (!find) return false;
    do {
        names.push_back(base::NarrowFromWide(found.cFileName));
    } while (FindNextFileW(find.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

std::string Win32System::JoinPath(const std::string& folder, const std::string& name) {
    // A drive root (C:\) already ends in the separator; never double it.
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

std::vector<DWORD> Win32System::InaccessibleProcesses() const {
    std::vector<DWORD> all = moduleDenied;
    all.insert(all.end(), handleDenied.begin(), handleDenied.end());
    all.insert(all.end(), mappedDenied.begin(), mappedDenied.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

std::string Win32System::FileNamePart(const std::string& path) {
    // C:\dir\ and C:\dir\. name the folder dir, as C:\dir does; a drive's root is its own name.
    std::string named = TrimTrailingSeparators(path);
    while (named.size() > 2 && named.compare(named.size() - 2, 2, "\\.") == 0)
        named = TrimTrailingSeparators(named.substr(0, named.size() - 1));
    const std::size_t slash = named.find_last_of('\\');
    if (slash == std::string::npos) return named;
    if (slash + 1 == named.size()) return named;
    return named.substr(slash + 1);
}

ProcessId Win32System::OwnProcessId() const {
    return GetCurrentProcessId();
}

std::string Win32System::DescribePathFailure(const std::string& path) {
    if (IsNamedPipePath(path)) return "no such pipe";
    if (GetFileAttributesW(base::WideFromNarrow(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return "no device path can be formed for it";
    return base::SystemMessage(GetLastError());
}

namespace {

// The path a wider scope is about: the folder itself, or the drive of a volume (C:).
std::string ScopeRoot(const HandleTarget& target) {
    if (target.scope == Scope::Volume && target.fullPath.size() >= 2 && target.fullPath[1] == ':')
        return target.fullPath.substr(0, 2);
    return TrimTrailingSeparators(target.fullPath);
}

// Whether `text` is `prefix` or lies under it, ignoring case; `rest` gets what follows.
bool UnderPrefix(const std::string& text, const std::string& prefix, std::string& rest) {
    std::string stem = prefix;
    while (!stem.empty() && stem.back() == '\\') stem.pop_back();
    if (stem.empty() || text.size() < stem.size() ||
        !EqualIgnoringCase(text.substr(0, stem.size()), stem))
        return false;
    rest = text.substr(stem.size());
    return rest.empty() || rest[0] == '\\';
}

}  // namespace

bool Win32System::GetScopeForm(const std::string& fullPath, Scope scope, std::string& scopeForm) {
    HandleTarget target{std::string(), fullPath, scope};
    const std::string root = ScopeRoot(target);
    // A volume is named by its drive's device (\Device\HarddiskVolume1); a folder by its own
    // forms, as a file is.
    if (scope == Scope::Volume) return win32::GetDeviceFileName(root + "\\", scopeForm);
    return GetDeviceFileName(root, scopeForm);
}

bool Win32System::ModuleInScope(const std::string& modulePath, const HandleTarget& target) {
    std::string rest;
    return UnderPrefix(modulePath, ScopeRoot(target), rest) && !rest.empty();
}

bool Win32System::HandleInScope(ProcessId, const std::string& handleName, const FileUse&,
                                const HandleTarget& target, std::string& shownPath) {
    const std::string root = ScopeRoot(target);
    std::string rest;
    // Windows names files by their device path, Wine by the \??\ form of the DOS path.
    for (const std::string& form : WindowsHandleNames(target.deviceForm, root)) {
        if (UnderPrefix(handleName, form, rest)) {
            shownPath = root + rest;
            return true;
        }
    }
    if (UnderPrefix(handleName, "\\??\\" + root, rest)) {
        shownPath = root + rest;
        return true;
    }
    return false;
}

bool Win32System::DescribeProcess(ProcessId processId, ProcessDetails& details) {
    return ReadProcessDetails(processId, details);
}

}  // namespace win32

std::unique_ptr<System> CreatePlatformSystem(Messages& messages) {
    return std::make_unique<win32::Win32System>(messages);
}

}  // namespace vesperlin::sysinfo

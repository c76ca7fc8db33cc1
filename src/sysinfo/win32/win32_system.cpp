#include "sysinfo/win32/win32_system.h"

#include <windows.h>

#include "sysinfo/device_path.h"
#include "sysinfo/platform_system.h"
#include "sysinfo/win32/dos_devices.h"
#include "sysinfo/win32/file_handles.h"
#include "sysinfo/win32/module_snapshot.h"
#include "sysinfo/win32/process_snapshot.h"
#include "sysinfo/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin {

namespace win32 {

namespace {

// Long-path aware: a full path may be far longer than MAX_PATH, but not longer than this.
constexpr DWORD kMaxFullPathUnits = 1 << 16;

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

}  // namespace

std::unique_ptr<ProcessNames> Win32System::TakeProcessSnapshot() {
    return std::make_unique<ProcessImageNames>(messages);
}

bool Win32System::TakeModuleSnapshot(std::vector<ModuleRecord>& modules) {
    modules.clear();
    ModuleSnapshot snapshot(messages, AllProcesses);
    const bool ok = snapshot.Refresh();
    deniedProcesses = snapshot.DeniedProcesses();
    if (!ok) return false;
    modules.reserve(snapshot.Entries().size());
    for (const ModuleEntry& entry : snapshot.Entries())
        modules.push_back(ModuleRecord{entry.ProcessId, entry.Path});
    return true;
}

std::unique_ptr<FileHandleSnapshot> Win32System::TakeFileHandleSnapshot() {
    return win32::TakeFileHandleSnapshot(messages);
}

bool Win32System::GetFullPath(const std::string& path, std::string& fullPath) {
    // The wide function: the 8-bit ones stop at MAX_PATH wherever long paths are not enabled
    // system-wide (and always under Wine). The answer is either the length written or, when it
    // did not fit, the size needed; only a buffer that was really filled is ever returned.
    const std::wstring widePath = NarrowToWide(path);
    if (widePath.empty()) return false;
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 4 && size <= kMaxFullPathUnits; ++attempt) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetFullPathNameW(widePath.c_str(), size, buffer.data(), nullptr);
        if (length == 0) return false;
        if (length < size) {
            buffer.resize(length);
            WideToNarrow(buffer.c_str(), fullPath);
            return true;
        }
        size = length + 1;  // the current folder may have changed meanwhile: ask again
    }
    return false;
}

bool Win32System::GetDeviceFileName(const std::string& path, std::string& deviceForm) {
    return win32::GetDeviceFileName(path, deviceForm);
}

bool Win32System::ModuleMatches(const std::string& modulePath, const std::string& fullPath) {
    return EqualIgnoringCase(modulePath, fullPath);
}

bool Win32System::HandleMatches(const std::string& handleName, const std::string& deviceForm,
                                const std::string& fullPath) {
    for (const std::string& name : WindowsHandleNames(deviceForm, fullPath))
        if (EqualIgnoringCase(handleName, name)) return true;
    return false;
}

PathKind Win32System::Classify(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(NarrowToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Unreadable;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// Wide calls for the same reason as GetFullPath: long paths.
bool Win32System::ListFolder(const std::string& fullPath, std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(NarrowToWide(JoinPath(fullPath, "*.*")).c_str(), &found));
    if (!find) return false;
    do {
        std::string name;
        WideToNarrow(found.cFileName, name);
        names.push_back(std::move(name));
    } while (FindNextFileW(find.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

std::string Win32System::JoinPath(const std::string& folder, const std::string& name) {
    // A drive root (C:\) already ends in the separator; never double it.
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

std::string Win32System::FileNamePart(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace win32

std::unique_ptr<System> CreatePlatformSystem(Messages& messages) {
    return std::make_unique<win32::Win32System>(messages);
}

}  // namespace vesperlin

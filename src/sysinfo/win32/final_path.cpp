#include "sysinfo/win32/final_path.h"

#include <windows.h>

#include "base/win32/wide_text.h"
#include "base/grow_buffer.h"
#include "sysinfo/device_path.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// Final paths are at most as long as the longest path the system takes. A buffer that is too
// small is answered with the size needed, its NUL included.
constexpr base::GrowLimits kFinalPathLimits{MAX_PATH, 1 << 16, 0};

bool QueryFinalPath(HANDLE file, DWORD flags, std::string& path) {
    std::wstring buffer;
    const base::GrowResult read = base::GrowBuffer(kFinalPathLimits, [&](std::size_t size) {
        buffer.assign(size, L'\0');
        const DWORD length =
            GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(size), flags);
        if (length == 0) return base::TryResult::Failed();
        return length < size ? base::TryResult::Fits(length) : base::TryResult::TooSmall(length);
    });
    if (!read.Fits()) return false;
    path = base::NarrowFromWide(std::wstring_view(buffer.data(), read.used));
    return true;
}

// The extended-length form of a long full path: without it the wide calls stop at MAX_PATH
// where long paths are not enabled system-wide.
std::wstring OpenablePath(const std::string& fullPath) {
    std::wstring wide = base::WideFromNarrow(fullPath);
    if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

}  // namespace

bool GetFinalPaths(const std::string& fullPath, FinalPaths& paths) {
    if (!NamesFileOnVolume(fullPath)) return false;
    const std::wstring wide = OpenablePath(fullPath);
    // A drive without its medium answers with an error rather than a dialog box.
    DWORD previousMode = 0;
    const bool modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
    base::UniqueFileHandle file(
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (modeSet) SetThreadErrorMode(previousMode, nullptr);
    if (!file) return false;
    FinalPaths found;
    // Either may fail on its own: a volume without a drive letter has no DOS path.
    QueryFinalPath(file.get(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, found.dosPath);
    QueryFinalPath(file.get(), FILE_NAME_NORMALIZED | VOLUME_NAME_NT, found.ntPath);
    if (found.dosPath.empty() && found.ntPath.empty()) return false;
    paths = std::move(found);
    return true;
}

}  // namespace vesperlin::sysinfo::win32

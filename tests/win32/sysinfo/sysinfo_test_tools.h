#pragma once
// Small tools shared by the Windows inspection tests.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::testing {

class MessageLog : public sysinfo::Messages {
  public:
    void Show(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// Puts the native table and its flag back as they were when the object was made.
class NtApiGuard {
  public:
    NtApiGuard() : table(sysinfo::win32::NtApi), bound(sysinfo::win32::ntApiBound) {}
    ~NtApiGuard() {
        sysinfo::win32::NtApi = table;
        sysinfo::win32::ntApiBound = bound;
    }
    const sysinfo::win32::NtApiTable& Real() const { return table; }

  private:
    sysinfo::win32::NtApiTable table;
    bool bound;
};

// `a` and `b` equal ignoring ASCII case (image and module names from the platform).
inline bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(std::wstring(a.begin(), a.end()).c_str(), -1,
                                std::wstring(b.begin(), b.end()).c_str(), -1, TRUE) == CSTR_EQUAL;
}

// How many handles our process holds, counted in the system handle table (the platform's
// handle-count query answers 0 under Wine).
inline std::size_t OwnHandleRows() {
    struct Row {
        USHORT UniqueProcessId;
        USHORT CreatorBackTraceIndex;
        UCHAR ObjectTypeIndex;
        UCHAR HandleAttributes;
        USHORT HandleValue;
        PVOID Object;
        ULONG GrantedAccess;
    };
    std::vector<unsigned char> buffer(1 << 16);
    for (int attempt = 0; attempt < 12; ++attempt, buffer.resize(buffer.size() * 2)) {
        ULONG written = 0;
        const NTSTATUS status = sysinfo::win32::NtApi.NtQuerySystemInformation(
            16, buffer.data(), static_cast<ULONG>(buffer.size()), &written);
        if (status == static_cast<NTSTATUS>(0xC0000004)) continue;
        if (status != 0) return 0;
        const ULONG rows = *reinterpret_cast<const ULONG*>(buffer.data());
        const auto* row = reinterpret_cast<const Row*>(buffer.data() + sizeof(ULONG_PTR));
        std::size_t own = 0;
        for (ULONG i = 0; i < rows; ++i)
            if (row[i].UniqueProcessId == static_cast<USHORT>(GetCurrentProcessId())) ++own;
        return own;
    }
    return 0;
}

// The test's 8-bit text (UTF-8) as UTF-16, for the wide calls that set up long paths.
inline std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   out.data(), static_cast<int>(out.size())));
    return out;
}

// A chain of folders under `base` whose full path is at least `minLength` bytes long, made
// with the wide calls (the 8-bit ones stop at MAX_PATH under Wine) and removed again.
class DeepFolder {
  public:
    DeepFolder(const std::string& base, std::size_t minLength) : base(base), path(base) {
        while (path.size() < minLength) {
            path += "\\a-rather-long-folder-name-for-deep-paths";
            if (!CreateDirectoryW(Wide(path).c_str(), nullptr)) return;
        }
        made = true;
    }
    ~DeepFolder() {
        for (std::string at = path; at.size() > base.size(); at.erase(at.rfind('\\')))
            RemoveDirectoryW(Wide(at).c_str());
    }
    DeepFolder(const DeepFolder&) = delete;
    DeepFolder& operator=(const DeepFolder&) = delete;
    bool Made() const { return made; }
    const std::string& Path() const { return path; }

  private:
    std::string base;
    std::string path;
    bool made = false;
};

// The file name of the running test executable (e.g. win32_sysinfo.exe).
inline std::string OwnImageName() {
    char path[4096] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    const std::string full = path;
    return full.substr(full.find_last_of('\\') + 1);
}

}  // namespace vesperlin::testing

#include "sysinfo/win32/dos_devices.h"

#include <windows.h>

#include <vector>

#include "sysinfo/device_path.h"

namespace vesperlin::win32 {

namespace {
// Targets are object paths, far shorter than this; the bound only stops a runaway loop.
constexpr DWORD kMaxTargetBytes = 1 << 20;
}  // namespace

bool QueryDosDeviceTarget(const std::string& deviceName, std::string& target) {
    // QueryDosDeviceA with no name lists every device; an empty name is no device at all.
    if (deviceName.empty()) return false;
    for (DWORD size = MAX_PATH; size <= kMaxTargetBytes; size *= 2) {
        std::vector<char> buffer(size);
        if (QueryDosDeviceA(deviceName.c_str(), buffer.data(), size) != 0) {
            buffer.back() = '\0';
            target = buffer.data();  // several targets are NUL-separated; the first counts
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    }
    return false;
}

bool GetDeviceFileName(const std::string& path, std::string& result) {
    return vesperlin::GetDeviceFileName(path, result, QueryDosDeviceTarget);
}

}  // namespace vesperlin::win32

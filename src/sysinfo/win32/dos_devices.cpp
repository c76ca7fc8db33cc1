#include "sysinfo/win32/dos_devices.h"

#include <windows.h>

#include <vector>

#include "base/grow_buffer.h"
#include "sysinfo/device_path.h"

namespace vesperlin::sysinfo::win32 {

namespace {
// Targets are object paths, far shorter than the largest size; the bound only stops a
// runaway loop. The call says only that the buffer is too small, not how large it must be.
constexpr base::GrowLimits kTargetLimits{MAX_PATH, 1 << 20, 0};
}  // namespace

bool QueryDosDeviceTarget(const std::string& deviceName, std::string& target) {
    // QueryDosDeviceA with no name lists every device; an empty name is no device at all.
    if (deviceName.empty()) return false;
    std::vector<char> buffer;
    const base::GrowResult read = base::GrowBuffer(kTargetLimits, [&](std::size_t size) {
        buffer.assign(size, '\0');
        if (QueryDosDeviceA(deviceName.c_str(), buffer.data(), static_cast<DWORD>(size)) != 0)
            return base::TryResult::Fits(size);
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return base::TryResult::TooSmall();
        return base::TryResult::Failed();
    });
    if (!read.Fits()) return false;
    buffer.back() = '\0';
    target = buffer.data();  // several targets are NUL-separated; the first counts
    return true;
}

bool GetDeviceFileName(const std::string& path, std::string& result) {
    return vesperlin::sysinfo::GetDeviceFileName(path, result, QueryDosDeviceTarget);
}

}  // namespace vesperlin::sysinfo::win32

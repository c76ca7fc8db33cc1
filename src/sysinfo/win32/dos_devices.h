#pragma once
// The platform's DOS device table, and device-path translation over it.

#include <string>

namespace vesperlin::sysinfo::win32 {

// The first target of a DOS device name ("C:", "PIPE") as QueryDosDeviceA reports it, of any
// length. False when the name has no target.
bool QueryDosDeviceTarget(const std::string& deviceName, std::string& target);

// sysinfo/device_path.h's translation with the platform's drive table: C:\dir\file ->
// \Device\HarddiskVolume1\dir\file. False, `result` untouched, when it cannot be formed.
bool GetDeviceFileName(const std::string& path, std::string& result);

}  // namespace vesperlin::sysinfo::win32

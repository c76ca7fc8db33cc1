#pragma once
// Drive-letter paths turned into the device paths under which the system names open files,
// so that a requested path can be compared with the name of a handle. The platform's drive
// table is reached through a lookup, so the translation itself runs and is tested anywhere.

#include <functional>
#include <string>
#include <vector>

namespace vesperlin {

// Answers the first target of a DOS device name ("C:", "PIPE"), e.g. \Device\HarddiskVolume1.
using DriveTargetLookup = std::function<bool(const std::string& drive, std::string& target)>;

// The device form of `path`: the drive's target followed by the rest of the path. Mapped
// network drives and server paths (\\server\share\...) both become \Device\Mup\server\share\...,
// the name open files on shares carry. False, with `deviceForm` untouched, when the drive has
// no target or a network drive's target cannot be read.
bool GetDeviceFileName(const std::string& path, std::string& deviceForm,
                       const DriveTargetLookup& lookup);

// The native namespace form of a full path, as some systems (Wine among them) name open files:
// C:\dir\file -> \??\C:\dir\file, \\server\share\file -> \??\UNC\server\share\file. Empty when
// the path is neither a drive path nor a server path.
std::string Win32NamespaceForm(const std::string& fullPath);

// Every handle name that names the file with this device form and full path on Windows and
// under Wine: the device form and the namespace form, those that are not empty.
std::vector<std::string> WindowsHandleNames(const std::string& deviceForm,
                                            const std::string& fullPath);

}  // namespace vesperlin

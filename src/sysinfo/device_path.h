#pragma once
// Drive-letter paths turned into the device paths under which the system names open files,
// so that a requested path can be compared with the name of a handle. The platform's drive
// table is reached through a lookup, so the translation itself runs and is tested anywhere.
// Windows logic, in this portable folder only so that its tests and fuzzer run natively too.

#include <functional>
#include <string>
#include <vector>

namespace vesperlin::sysinfo {

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

// A device form may list several names of one file, each a handle may carry (a file reached
// through a mapped drive, say, has its redirector's name and its share's). They are joined
// by this character, which no name holds.
inline constexpr char kDeviceFormSeparator = '\0';

// Every handle name that names the file with this device form and full path on Windows and
// under Wine: the names the device form lists and the namespace form, those not empty.
std::vector<std::string> WindowsHandleNames(const std::string& deviceForm,
                                            const std::string& fullPath);

// A full path without separators at its end, which name the same folder: C:\dir\ -> C:\dir.
// A drive's root keeps its separator (C:\, \\?\C:\), as without it the path would name the
// drive's current folder.
std::string TrimTrailingSeparators(const std::string& fullPath);

// The path of a file that the system gives back for an open handle (\\?\C:\dir\file,
// \\?\UNC\server\share\file) in the form of a full path: C:\dir\file, \\server\share\file.
std::string FullPathOfFinalPath(const std::string& finalPath);

// Whether a full path names a file on a drive or share (C:\..., \\server\share\..., their
// \\?\ forms), which can be opened to ask the system for its final path without any other
// effect. Pipes and other devices (\\.\pipe\x, \\.\COM1) are not: opening one connects to it.
bool NamesFileOnVolume(const std::string& fullPath);

// Whether a path names a named pipe: \\.\pipe\NAME or \\?\pipe\NAME, in any case.
bool IsNamedPipePath(const std::string& path);

}  // namespace vesperlin::sysinfo

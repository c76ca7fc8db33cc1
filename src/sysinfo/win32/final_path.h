#pragma once
// A file as the system knows it: the path it gives for an open handle, with 8.3 names made
// long, folder links and junctions followed, and subst and mapped drives resolved to the volume
// or share behind them. Handle names carry that path, whatever spelling opened the file.

#include <string>

namespace vesperlin::sysinfo::win32 {

struct FinalPaths {
    std::string dosPath;  // C:\dir\file or \\server\share\file; empty when the system gave none
    std::string ntPath;   // \Device\HarddiskVolume1\dir\file; empty when the system gave none
};

// Opens the file or folder at `fullPath` with no access (no share mode is refused, nothing is
// read) and asks for both of its final paths. False when it names no file on a volume or
// share (pipes and devices are never opened: that would connect to them), cannot be opened,
// or the system gives neither path.
bool GetFinalPaths(const std::string& fullPath, FinalPaths& paths);

}  // namespace vesperlin::sysinfo::win32

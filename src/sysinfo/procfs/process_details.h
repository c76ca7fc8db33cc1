#pragma once
// The details the console's long forms show of a process, read from /proc: its user (the real
// user id of /proc/PID/status), its program (/proc/PID/exe) and its command line
// (/proc/PID/cmdline).

#include <sys/types.h>

#include <string>
#include <string_view>

#include "sysinfo/system.h"

namespace vesperlin::sysinfo::procfs {

// The real user id of a status file's "Uid:" line (real, effective, saved, file system ids,
// separated by blanks or tabs). False when there is no such line or its first field is no
// decimal number that fits.
bool ParseStatusUid(std::string_view status, uid_t& uid);

// A cmdline file's arguments (each ended by a NUL; the last NUL may be missing) joined by one
// blank. A process that rewrote its arguments into one string keeps that string.
std::string JoinCommandLine(std::string_view cmdline);

// User name (or the id in decimal when no name is known), program path and command line;
// empty fields when they cannot be read. False when the process is gone.
bool ReadProcessDetails(int procFd, ProcessId processId, ProcessDetails& details);

}  // namespace vesperlin::sysinfo::procfs

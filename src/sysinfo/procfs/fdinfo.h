#pragma once
// What an open descriptor was opened for, from its /proc/PID/fdinfo/N text.

#include <cstdint>
#include <string_view>

namespace vesperlin::sysinfo::procfs {

// The open flags of an fdinfo text (its "flags:" line, in octal). False when there is none.
bool ParseFdinfoFlags(std::string_view text, unsigned& flags);

// The AccessBit values of a descriptor opened with `flags`: read, write or both; none for a
// descriptor that only names its file (O_PATH).
std::uint8_t AccessOfOpenFlags(unsigned flags);

}  // namespace vesperlin::sysinfo::procfs

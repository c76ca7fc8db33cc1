#pragma once
// The records getdents64 fills a buffer with (the listing of /proc/PID/fd), walked with every
// record length checked against the buffer: a length that leads out of it, or a name without
// its NUL, ends the walk.

#include <cstddef>
#include <span>

namespace vesperlin::sysinfo::procfs {

// Moves `at` past the record that starts there and gives its NUL-terminated name (pointing into
// `records`). False, with `at` unchanged, at the end of the records or at one that does not lie
// whole inside them.
bool NextDirectoryRecord(std::span<const char> records, std::size_t& at, const char*& name);

}  // namespace vesperlin::sysinfo::procfs

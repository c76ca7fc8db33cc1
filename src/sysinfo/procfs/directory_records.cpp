#include "sysinfo/procfs/directory_records.h"

#include <dirent.h>

#include <cstdint>
#include <cstring>

namespace vesperlin::sysinfo::procfs {

namespace {

// The kernel's record: inode (64 bits), offset (64 bits), record length (16 bits), type (8 bits),
// then the name and its NUL.
constexpr std::size_t kLengthOffset = 16;
constexpr std::size_t kNameOffset = 19;
static_assert(offsetof(dirent64, d_reclen) == kLengthOffset);
static_assert(offsetof(dirent64, d_name) == kNameOffset);

}  // namespace

bool NextDirectoryRecord(std::span<const char> records, std::size_t& at, const char*& name) {
    if (at >= records.size() || records.size() - at <= kNameOffset) return false;
    std::uint16_t length = 0;
    std::memcpy(&length, records.data() + at + kLengthOffset, sizeof(length));
    if (length <= kNameOffset || length > records.size() - at) return false;
    const char* start = records.data() + at + kNameOffset;
    if (std::memchr(start, '\0', length - kNameOffset) == nullptr) return false;
    name = start;
    at += length;
    return true;
}

}  // namespace vesperlin::sysinfo::procfs

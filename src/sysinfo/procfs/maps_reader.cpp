#include "sysinfo/procfs/maps_reader.h"

#include <sys/sysmacros.h>

#include <charconv>

#include "sysinfo/file_use.h"

namespace vesperlin::sysinfo::procfs {

namespace {

// Splits off the next blank-separated column; false when the line ends first.
bool NextColumn(std::string_view& rest, std::string_view& column) {
    std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    rest.remove_prefix(start);
    std::size_t end = rest.find(' ');
    column = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return true;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base) {
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && stop == text.data() + text.size();
}

}  // namespace

bool ParseMapsLine(std::string_view line, MapsEntry& entry) {
    std::string_view rest = line;
    std::string_view range, perms, offset, device, inode;
    if (!NextColumn(rest, range) || !NextColumn(rest, perms) || !NextColumn(rest, offset) ||
        !NextColumn(rest, device) || !NextColumn(rest, inode)) {
        return false;
    }
    std::size_t pathStart = rest.find_first_not_of(' ');
    if (pathStart == std::string_view::npos) return false;
    std::string_view path = rest.substr(pathStart);
    // Only paths name files; "[heap]", "anon_inode:..." and the like do not. A memfd shows as
    // "/memfd:name (deleted)", and its columns identify it as they do a deleted file.
    if (path.front() != '/') return false;
    const std::uint16_t permissionsBit = MappingPermissionsBit(std::string(perms));
    if (permissionsBit == 0) return false;

    std::size_t colon = device.find(':');
    unsigned int major = 0, minor = 0;
    unsigned long long inodeNumber = 0;
    if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), major, 16) ||
        !ParseNumber(device.substr(colon + 1), minor, 16) || !ParseNumber(inode, inodeNumber, 10)) {
        return false;
    }
    entry.identity = FileIdentity{makedev(major, minor), static_cast<ino_t>(inodeNumber)};
    entry.permissions = permissionsBit;

    constexpr std::string_view deletedSuffix = " (deleted)";
    entry.deleted = path.ends_with(deletedSuffix);

    // The kernel writes a newline in a path as "\012"; nothing else is escaped.
    entry.path.clear();
    std::size_t from = 0;
    for (std::size_t at = path.find("\\012"); at != std::string_view::npos;
         at = path.find("\\012", from)) {
        entry.path.append(path.substr(from, at - from));
        entry.path.push_back('\n');
        from = at + 4;
    }
    entry.path.append(path.substr(from));
    return true;
}

}  // namespace vesperlin::sysinfo::procfs

#include "sysinfo/procfs/unix_sockets.h"

#include <fcntl.h>

#include <charconv>
#include <unordered_map>

#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {

namespace {

// Splits off the next blank-separated column; false when the line ends first.
bool NextColumn(std::string_view& rest, std::string_view& column) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    rest.remove_prefix(start);
    const std::size_t end = rest.find(' ');
    column = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return true;
}

}  // namespace

std::vector<BoundUnixSocket> ParseUnixSocketTable(std::string_view text) {
    std::vector<BoundUnixSocket> sockets;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view rest = text.substr(at, end - at);
        at = end + 1;
        // Num: RefCount Protocol Flags Type St Inode [Path]; the header has no colon-ended
        // first column.
        std::string_view columns[7];
        bool complete = true;
        for (std::string_view& column : columns) complete = complete && NextColumn(rest, column);
        if (!complete || !columns[0].ends_with(':')) continue;
        unsigned long long inode = 0;
        const std::string_view number = columns[6];
        const auto [stop, error] =
            std::from_chars(number.data(), number.data() + number.size(), inode, 10);
        if (error != std::errc() || stop != number.data() + number.size()) continue;
        // The path is the rest of the line after one blank, spaces and all.
        if (rest.size() < 2 || rest[0] != ' ' || rest[1] == '@') continue;
        sockets.push_back({static_cast<ino_t>(inode), std::string(rest.substr(1))});
    }
    return sockets;
}

std::vector<FileIdentity> SocketsBoundTo(FileIdentity file, dev_t socketDevice) {
    std::vector<FileIdentity> sockets;
    std::string table;
    int errorCode = 0;
    if (!ReadWholeFile(AT_FDCWD, "/proc/self/net/unix", table, errorCode)) return sockets;
    // Connections a listener accepted repeat its path: each path is looked at once.
    std::unordered_map<std::string, bool> namesFile;
    for (const BoundUnixSocket& bound : ParseUnixSocketTable(table)) {
        if (bound.path.empty() || bound.path[0] != '/') continue;
        auto [known, inserted] = namesFile.try_emplace(bound.path, false);
        if (inserted) known->second = IdentityOfPath(bound.path) == file;
        if (known->second) sockets.push_back(FileIdentity{socketDevice, bound.inode});
    }
    return sockets;
}

}  // namespace vesperlin::sysinfo::procfs

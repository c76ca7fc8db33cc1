#include "sysinfo/procfs/fdinfo.h"

#include <fcntl.h>

#include <charconv>

#include "sysinfo/file_use.h"

namespace vesperlin::sysinfo::procfs {

bool ParseFdinfoFlags(std::string_view text, unsigned& flags) {
    constexpr std::string_view key = "flags:";
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(key)) continue;
        line.remove_prefix(key.size());
        const std::size_t digits = line.find_first_not_of(" \t");
        if (digits == std::string_view::npos) return false;
        line.remove_prefix(digits);
        unsigned value = 0;
        const auto [stop, error] =
            std::from_chars(line.data(), line.data() + line.size(), value, 8);
        if (error != std::errc() || stop == line.data()) return false;
        flags = value;
        return true;
    }
    return false;
}

std::uint8_t AccessOfOpenFlags(unsigned flags) {
    if (flags & O_PATH) return 0;
    switch (flags & O_ACCMODE) {
        case O_RDONLY:
            return AccessRead;
        case O_WRONLY:
            return AccessWrite;
        case O_RDWR:
            return AccessRead | AccessWrite;
    }
    return 0;
}

}  // namespace vesperlin::sysinfo::procfs

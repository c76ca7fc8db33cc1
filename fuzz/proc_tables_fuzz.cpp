// The /proc texts read for how a descriptor is used (fdinfo) and for the sockets bound to a
// path (/proc/net/unix), from any text: both parsers see the same input.
#include <fcntl.h>

#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "sysinfo/file_use.h"
#include "sysinfo/procfs/fdinfo.h"
#include "sysinfo/procfs/unix_sockets.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::procfs;

namespace {

std::size_t LineCount(std::string_view text) {
    std::size_t lines = text.empty() ? 0 : 1;
    for (char c : text) lines += c == '\n';
    return lines;
}

void CheckFdinfo(std::string_view text) {
    unsigned flags = 0;
    if (!ParseFdinfoFlags(text, flags)) return;
    // The value came from a "flags:" line at the start of a line.
    FUZZ_CHECK(text.starts_with("flags:") || text.find("\nflags:") != std::string_view::npos);
    const std::uint8_t access = AccessOfOpenFlags(flags);
    FUZZ_CHECK((access & ~(vesperlin::sysinfo::AccessRead | vesperlin::sysinfo::AccessWrite)) == 0);
    if (flags & O_PATH) FUZZ_CHECK(access == 0);
}

void CheckUnixTable(std::string_view text) {
    const std::vector<BoundUnixSocket> sockets = ParseUnixSocketTable(text);
    // The header and lines that are no entries give nothing: at most one socket a line.
    FUZZ_CHECK(sockets.size() <= LineCount(text));
    for (const BoundUnixSocket& socket : sockets) {
        FUZZ_CHECK(!socket.path.empty() && socket.path.front() != '@');
        FUZZ_CHECK(socket.path.find('\n') == std::string::npos);
        FUZZ_CHECK(text.find(socket.path) != std::string_view::npos);
        FUZZ_CHECK(text.find(std::to_string(socket.inode)) != std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckFdinfo(text);
    CheckUnixTable(text);
    return 0;
}

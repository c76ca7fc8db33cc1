// The records of a /proc directory listing (getdents64) from any buffer, and the process
// identifiers their names stand for.
#include <cstring>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "sysinfo/procfs/directory_records.h"
#include "sysinfo/procfs/proc_dir.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::procfs;

namespace {

void CheckProcessId(std::string_view name) {
    vesperlin::sysinfo::ProcessId id = 0;
    if (!ParseProcessId(name, id)) return;
    // Only the plain decimal form of a number is a process entry.
    FUZZ_CHECK(std::to_string(id) == name && id != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const char> records(reinterpret_cast<const char*>(data), size);
    std::size_t at = 0;
    std::size_t count = 0;
    const char* name = nullptr;
    for (std::size_t before = at; NextDirectoryRecord(records, at, name); before = at) {
        FUZZ_CHECK(at > before && at <= size);
        FUZZ_CHECK(name > records.data() + before && name < records.data() + at);
        const std::size_t room = static_cast<std::size_t>(records.data() + at - name);
        FUZZ_CHECK(strnlen(name, room) < room);  // the name's NUL is inside its record
        CheckProcessId(name);
        ++count;
    }
    FUZZ_CHECK(count <= size / 20);
    CheckProcessId(std::string_view(records.data(), size));
    return 0;
}

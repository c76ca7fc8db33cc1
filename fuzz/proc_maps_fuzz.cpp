// One process's /proc entries as the module walk reads them. Input: the first line is the text
// of the exe link (an empty line: the link could not be read); the rest is the maps file.
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sysinfo/procfs/maps_reader.h"
#include "sysinfo/procfs/module_walk.h"

using namespace vesperlin::sysinfo;
using namespace vesperlin::sysinfo::procfs;

using vesperlin::fuzz::FuzzInput;

namespace {

constexpr std::string_view kDeleted = " (deleted)";

void CheckLine(std::string_view line) {
    MapsEntry entry;
    if (!ParseMapsLine(line, entry)) return;
    FUZZ_CHECK(!entry.path.empty() && entry.path.front() == '/');
    FUZZ_CHECK(entry.deleted == entry.path.ends_with(kDeleted));
    // Every escaped newline is turned back, and nothing that looks like one is left.
    FUZZ_CHECK(entry.path.find("\\012") == std::string::npos);
    FUZZ_CHECK(entry.path.size() <= line.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::string exeLink = input.Until('\n');
    const std::string_view maps = input.Rest();

    std::string_view rest = maps;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        CheckLine(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }

    const vesperlin::sysinfo::ProcessId processId = 4321;
    std::vector<MappedModule> modules = {MappedModule{7, "/earlier/process", false, false, {}}};
    MapsEntry scratch;
    AddMappedModules(processId, exeLink.empty() ? nullptr : &exeLink, maps, scratch, modules);
    FUZZ_CHECK(modules.front().processId == 7);
    std::set<std::string> paths;
    for (std::size_t i = 1; i < modules.size(); ++i) {
        const MappedModule& module = modules[i];
        FUZZ_CHECK(module.processId == processId);
        FUZZ_CHECK(paths.insert(module.path).second);  // each path once per process
        FUZZ_CHECK(module.deleted == module.path.ends_with(kDeleted));
        if (i == 1 && !exeLink.empty()) {
            FUZZ_CHECK(module.path == exeLink);  // the executable first
        } else {
            FUZZ_CHECK(module.haveMapsIdentity && module.path.front() == '/');
        }
    }
    return 0;
}

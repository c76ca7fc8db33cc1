// GetDeviceFileName over a scripted drive table. Input: lines; the first is the path, every
// later one a drive table entry "NAME<TAB>TARGET" (the lookup answers those names, exactly).
#include <algorithm>
#include <map>
#include <vector>
#include <string>

#include "fuzz_support.h"
#include "sysinfo/device_path.h"

using namespace vesperlin::sysinfo;

using vesperlin::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::string path = input.Until('\n');
    std::map<std::string, std::string> drives;
    while (!input.Empty()) {
        const std::string entry = input.Until('\n');
        const std::size_t tab = entry.find('\t');
        if (tab != std::string::npos) drives[entry.substr(0, tab)] = entry.substr(tab + 1);
    }
    int lookups = 0;
    const vesperlin::sysinfo::DriveTargetLookup lookup = [&](const std::string& drive,
                                                             std::string& target) {
        ++lookups;
        const auto found = drives.find(drive);
        if (found == drives.end()) return false;
        target = found->second;
        return true;
    };

    const std::string untouched = "\x01untouched";
    std::string deviceForm = untouched;
    const bool translated = vesperlin::sysinfo::GetDeviceFileName(path, deviceForm, lookup);
    if (!translated) FUZZ_CHECK(deviceForm == untouched);
    // A drive table that substitutes drives for each other in a loop is followed only so far.
    FUZZ_CHECK(lookups <= 16);
    const bool serverPath =
        path.starts_with("\\\\") && !path.starts_with("\\\\?\\") && !path.starts_with("\\\\.\\");
    if (serverPath) {
        FUZZ_CHECK(lookups == 0);
        if (translated) FUZZ_CHECK(deviceForm.starts_with("\\Device\\Mup\\"));
    }
    // Without a drive table only server paths translate.
    std::string withoutTable = untouched;
    if (vesperlin::sysinfo::GetDeviceFileName(path, withoutTable, {})) {
        FUZZ_CHECK(path.starts_with("\\\\"));
    } else {
        FUZZ_CHECK(withoutTable == untouched);
    }

    const std::string namespaceForm = vesperlin::sysinfo::Win32NamespaceForm(path);
    FUZZ_CHECK(namespaceForm.empty() || namespaceForm.starts_with("\\??\\"));
    if (translated) {
        // The names a device form lists, one after another, and the namespace form.
        std::vector<std::string> listed;
        for (std::size_t at = 0; at <= deviceForm.size();) {
            const std::size_t end = deviceForm.find(vesperlin::sysinfo::kDeviceFormSeparator, at);
            listed.push_back(deviceForm.substr(at, end == std::string::npos ? end : end - at));
            if (end == std::string::npos) break;
            at = end + 1;
        }
        for (const std::string& name : vesperlin::sysinfo::WindowsHandleNames(deviceForm, path)) {
            FUZZ_CHECK(!name.empty());
            FUZZ_CHECK(name == namespaceForm ||
                       std::find(listed.begin(), listed.end(), name) != listed.end());
        }
    }
    return 0;
}

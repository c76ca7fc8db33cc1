#include "sysinfo/win32/mapped_files.h"

#include <psapi.h>

#include <algorithm>
#include <cstdint>

#include "sysinfo/win32/process_snapshot.h"
#include "sysinfo/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::win32 {

namespace {

// The longest name the platform gives an object, in UTF-16 units, and its NUL.
constexpr DWORD kNameUnits = 32768;

}  // namespace

bool ListMappedFileNames(HANDLE process, const NameTailFilter* filter,
                         std::vector<std::string>& names) {
    names.clear();
    std::wstring name(kNameUnits + 1, L'\0');
    std::string narrow;
    const void* named = nullptr;  // the allocation whose name was asked last
    bool read = false;
    MEMORY_BASIC_INFORMATION region{};
    for (std::uintptr_t address = 0;;) {
        if (VirtualQueryEx(process, reinterpret_cast<const void*>(address), &region,
                           sizeof region) != sizeof region)
            break;  // past the top of the user address space, or the process is gone
        read = true;
        // A view is one allocation, which may span regions of different protection: its name
        // is asked once. Each question is a round trip to the other process's memory manager.
        if (region.Type == MEM_MAPPED && region.AllocationBase != named) {
            named = region.AllocationBase;
            const DWORD units =
                GetMappedFileNameW(process, region.BaseAddress, name.data(), kNameUnits);
            if (units > 0 && units < kNameUnits &&
                (!filter ||
                 filter->Admits(reinterpret_cast<const char16_t*>(name.data()), units))) {
                name[units] = L'\0';
                WideToNarrow(name.c_str(), narrow);
                if (std::find(names.begin(), names.end(), narrow) == names.end())
                    names.push_back(narrow);
            }
        }
        const std::uintptr_t next =
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return read;
}

bool MappedFileSnapshot::Refresh() {
    entries.clear();
    deniedProcesses.clear();
    ProcessSnapshot processes(messages, true);
    if (processes.Count() == 0) return false;
    processes.Walk([this](DWORD processId, const ProcessEntry&) { ListProcess(processId); });
    return true;
}

void MappedFileSnapshot::ListProcess(DWORD processId) {
    UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) {
        // Skipped silently, as in the module walk; counted so a front end can say so.
        if (GetLastError() == ERROR_ACCESS_DENIED) deniedProcesses.push_back(processId);
        return;
    }
    std::vector<std::string> names;
    ListMappedFileNames(process.get(), filter.get(), names);
    for (std::string& name : names) entries.push_back({processId, std::move(name)});
}

}  // namespace vesperlin::win32

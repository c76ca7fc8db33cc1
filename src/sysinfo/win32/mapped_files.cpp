#include "sysinfo/win32/mapped_files.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "sysinfo/win32/process_snapshot.h"
#include "sysinfo/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::win32 {

namespace {

// The longest name the platform gives an object, in UTF-16 units, and its NUL.
constexpr DWORD kNameUnits = 32768;
// Threads walking address spaces at once, the caller's included.
constexpr std::size_t kWalkers = 8;

std::uintptr_t EndOf(const MEMORY_BASIC_INFORMATION& region) {
    return reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
}

// Where an image loaded at `base` ends by its own header; 0 when that cannot be read.
std::uintptr_t ImageEndByHeader(HANDLE process, const void* base) {
    alignas(8) unsigned char header[1024];
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, base, header, sizeof header, &read)) return 0;
    IMAGE_DOS_HEADER dos;
    if (read < sizeof dos) return 0;
    std::memcpy(&dos, header, sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return 0;
    // SizeOfImage sits at the same place in the 32-bit and the 64-bit optional header.
    const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
    const std::size_t at = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                           offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage);
    if (at + sizeof(DWORD) > read) return 0;
    DWORD signature = 0, size = 0;
    std::memcpy(&signature, header + nt, sizeof signature);
    std::memcpy(&size, header + at, sizeof size);
    if (signature != IMAGE_NT_SIGNATURE || size == 0) return 0;
    return reinterpret_cast<std::uintptr_t>(base) + size;
}

// Where to go on after `region`, the first region of an image. An image has a region for
// each section, none of them a view; its header says where it ends, and the region at its
// last page, if it is still the image's, shows that no other allocation lies in between (an
// allocation is one range). Two questions instead of one per section. `queries` counts them.
std::uintptr_t PastImage(HANDLE process, const MEMORY_BASIC_INFORMATION& region,
                         std::size_t& queries) {
    const std::uintptr_t next = EndOf(region);
    ++queries;
    const std::uintptr_t end = ImageEndByHeader(process, region.AllocationBase);
    if (end <= next) return next;
    MEMORY_BASIC_INFORMATION last{};
    ++queries;
    if (VirtualQueryEx(process, reinterpret_cast<const void*>(end - 1), &last, sizeof last) !=
            sizeof last ||
        last.AllocationBase != region.AllocationBase || EndOf(last) <= next)
        return next;
    return EndOf(last);
}

}  // namespace

MappedPassCounters mappedPassCounters;

bool ListMappedFileNames(HANDLE process, const NameTailFilter* filter,
                         std::vector<std::string>& names) {
    names.clear();
    std::wstring name(kNameUnits + 1, L'\0');
    std::string narrow;
    const void* named = nullptr;  // the allocation whose name was asked last
    bool read = false;
    MEMORY_BASIC_INFORMATION region{};
    std::size_t spaceQueries = 0, nameQueries = 0;
    for (std::uintptr_t address = 0;;) {
        ++spaceQueries;
        if (VirtualQueryEx(process, reinterpret_cast<const void*>(address), &region,
                           sizeof region) != sizeof region)
            break;  // past the top of the user address space, or the process is gone
        read = true;
        // A view is one allocation, which may span regions of different protection: its name
        // is asked once. Each question is a round trip to the other process's memory manager.
        if (region.Type == MEM_MAPPED && region.AllocationBase != named) {
            named = region.AllocationBase;
            ++nameQueries;
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
            region.Type == MEM_IMAGE && region.BaseAddress == region.AllocationBase
                ? PastImage(process, region, spaceQueries)
                : EndOf(region);
        if (next <= address) break;
        address = next;
    }
    mappedPassCounters.processesWalked += 1;
    mappedPassCounters.spaceQueries += spaceQueries;
    mappedPassCounters.nameQueries += nameQueries;
    return read;
}

bool MappedFileSnapshot::Refresh() {
    entries.clear();
    deniedProcesses.clear();
    ProcessSnapshot processes(messages, true);
    if (processes.Count() == 0) return false;
    std::vector<DWORD> ids;
    processes.Walk([&](DWORD processId, const ProcessEntry&) {
        if (std::find(skipped.begin(), skipped.end(), processId) == skipped.end())
            ids.push_back(processId);
    });

    // Every question is a round trip to another process's memory manager (under Wine, to the
    // one server): several walkers keep several in flight. Each process's answer has its own
    // slot, so the list keeps the process snapshot's order.
    struct ProcessViews {
        std::vector<std::string> names;
        bool denied = false;
    };
    std::vector<ProcessViews> found(ids.size());
    std::atomic<std::size_t> next{0};
    const auto walk = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < ids.size();) {
            UniqueKernelHandle process(
                OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
            if (!process) {
                // Skipped silently, as in the module walk; counted so a front end can say so.
                found[i].denied = GetLastError() == ERROR_ACCESS_DENIED;
                continue;
            }
            try {
                ListMappedFileNames(process.get(), filter.get(), found[i].names);
            } catch (const std::bad_alloc&) {
                // Out of memory on a walker: that process keeps what was found, nothing escapes
                // the thread.
            }
        }
    };
    std::vector<std::thread> walkers;
    try {
        while (walkers.size() + 1 < kWalkers) walkers.emplace_back(walk);
    } catch (const std::system_error&) {
        // Fewer walkers only take longer.
    }
    walk();
    for (std::thread& walker : walkers) walker.join();

    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (found[i].denied) deniedProcesses.push_back(ids[i]);
        for (std::string& name : found[i].names) entries.push_back({ids[i], std::move(name)});
    }
    return true;
}

}  // namespace vesperlin::win32

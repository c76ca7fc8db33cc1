#include "sysinfo/win32/module_snapshot.h"

#include <psapi.h>

#include "base/win32/wide_text.h"
#include "base/grow_buffer.h"
#include "sysinfo/win32/process_snapshot.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// In array entries: modules loaded between our EnumProcessModules calls make the array too
// small; after this many rounds, or at this many modules, we list what the array holds.
constexpr base::GrowLimits kModuleLimits{0, 1 << 16, 16, 4};
// GetModuleFileNameExW cuts silently; a path that still fills the largest buffer is given up
// on.
constexpr std::size_t kFirstPathUnits = MAX_PATH;
constexpr std::size_t kMaxPathUnits = 1 << 16;

template <typename Fn>
Fn As(FARPROC entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

}  // namespace

ModuleWalkApi BindModuleWalkApi(const EntryLookup& lookup, const char* prefix) {
    const auto find = [&](const char* name) {
        return lookup((std::string(prefix) + name).c_str());
    };
    ModuleWalkApi api;
    api.enumProcessModulesEx =
        As<ModuleWalkApi::EnumProcessModulesExFn>(find("EnumProcessModulesEx"));
    if (!api.enumProcessModulesEx)
        api.enumProcessModules =
            As<ModuleWalkApi::EnumProcessModulesFn>(find("EnumProcessModules"));
    api.getModuleFileNameExW =
        As<ModuleWalkApi::GetModuleFileNameExWFn>(find("GetModuleFileNameExW"));
    return api;
}

BOOL ModuleWalkApi::EnumModules(HANDLE process, HMODULE* modules, DWORD bytes,
                                LPDWORD needed) const {
    // From a 64-bit caller the plain call lists only a 32-bit process's exe, ntdll and WOW64
    // libraries; its own libraries need LIST_MODULES_ALL. The Ex form came with Vista: before
    // it the plain call is all there is.
    if (enumProcessModulesEx)
        return enumProcessModulesEx(process, modules, bytes, needed, LIST_MODULES_ALL);
    return enumProcessModules ? enumProcessModules(process, modules, bytes, needed) : FALSE;
}

ModuleSnapshot::ModuleSnapshot(Messages& messages, LONG processFilter, bool refreshNow)
    : messages(messages), processFilter(processFilter) {
    if (refreshNow) Refresh();
}

bool ModuleSnapshot::Refresh() {
    api = {};
    entries.clear();
    deniedProcesses.clear();

    base::UniqueModule psapi(LoadLibraryA("PSAPI.DLL"));
    if (psapi) {
        api =
            BindModuleWalkApi([&](const char* name) { return GetProcAddress(psapi.get(), name); });
    } else {
        // Windows 7 and later carry the same functions in kernel32 (always loaded); only
        // when neither is there is the status library truly missing.
        if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
            api = BindModuleWalkApi([&](const char* name) { return GetProcAddress(kernel, name); },
                                    "K32");
        if (!api.Complete()) {
            api = {};
            messages.Show("Can't load psapi.dll.");
            return false;
        }
    }
    bool result = true;
    if (!api.Complete()) {
        messages.Show("Can't get process addresses.");
        result = false;
    } else if (processFilter != AllProcesses) {
        ListProcessModules(static_cast<DWORD>(processFilter));
    } else {
        ProcessSnapshot processes(messages, true);
        if (processes.Count() == 0) {
            messages.Show("Can't get process information start position.");
            result = false;
        } else {
            processes.Walk(
                [this](DWORD processId, const ProcessEntry&) { ListProcessModules(processId); });
        }
    }
    api = {};
    return result;
}

void ModuleSnapshot::ListProcessModules(DWORD processId) {
    base::UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) {
        // Skipped silently, like every per-process failure; counted so a front end can say
        // that some processes were out of reach.
        if (GetLastError() == ERROR_ACCESS_DENIED) deniedProcesses.push_back(processId);
        return;
    }
    DWORD needed = 0;
    if (!api.EnumModules(process.get(), nullptr, 0, &needed)) return;
    base::GrowLimits limits = kModuleLimits;
    limits.first = needed / sizeof(HMODULE);
    std::vector<HMODULE> modules;
    const base::GrowResult listed = base::GrowBuffer(limits, [&](std::size_t count) {
        modules.resize(count);
        const auto bytes = static_cast<DWORD>(count * sizeof(HMODULE));
        DWORD reported = 0;
        if (!api.EnumModules(process.get(), modules.data(), bytes, &reported))
            return base::TryResult::Failed();
        if (reported <= bytes) return base::TryResult::Fits(reported / sizeof(HMODULE));
        return base::TryResult::TooSmall(reported / sizeof(HMODULE));
    });
    if (listed.kind == base::GrowResult::Kind::Failed) return;
    // Still more modules than room: the array holds the first ones.
    modules.resize(listed.Fits() ? listed.used : listed.size);
    for (HMODULE module : modules) {
        ModuleEntry entry;
        if (!ReadModulePath(process.get(), module, entry.Path)) continue;
        entry.ProcessId = processId;
        entry.Module = module;
        entries.push_back(std::move(entry));
    }
}

bool ModuleSnapshot::ReadModulePath(HANDLE process, HMODULE module, std::string& path) const {
    // The wide call: the 8-bit one converts with the system's code page, which need not be ours.
    // It cuts a long path to the buffer and still succeeds; a result that fills the buffer may
    // have been cut, so ask again with more room.
    std::wstring buffer;
    const base::GrowResult read = base::GrowBuffer(
        base::GrowLimits{kFirstPathUnits, kMaxPathUnits, 0}, [&](std::size_t size) {
            buffer.assign(size, L'\0');
            const DWORD length =
                api.getModuleFileNameExW(process, module, buffer.data(), static_cast<DWORD>(size));
            if (length == 0) return base::TryResult::Failed();
            return length < size - 1 ? base::TryResult::Fits(length) : base::TryResult::TooSmall();
        });
    if (!read.Fits()) return false;
    path = base::NarrowFromWide(std::wstring_view(buffer.data(), read.used));
    return true;
}

}  // namespace vesperlin::sysinfo::win32

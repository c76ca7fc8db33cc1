#include "sysinfo/win32/module_snapshot.h"

#include "sysinfo/win32/process_snapshot.h"
#include "sysinfo/win32/unique_handle.h"

namespace vesperlin::win32 {

namespace {

// Modules loaded between our two EnumProcessModules calls make the array too small; after
// this many rounds we list what the array holds.
constexpr int kMaxEnumRounds = 4;
// GetModuleFileNameExA cuts silently; a path that still fills this much is given up on.
constexpr DWORD kMaxPathBytes = 1 << 18;

template <typename Fn>
Fn BindEntry(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

ModuleSnapshot::ModuleSnapshot(Messages& messages, LONG processFilter, bool refreshNow)
    : messages(messages), processFilter(processFilter) {
    if (refreshNow) Refresh();
}

bool ModuleSnapshot::Refresh() {
    enumProcessModules = nullptr;
    getModuleFileNameExA = nullptr;
    entries.clear();
    deniedProcesses = 0;

    UniqueModule psapi(LoadLibraryA("PSAPI.DLL"));
    HMODULE library = psapi.get();
    const char* enumName = "EnumProcessModules";
    const char* pathName = "GetModuleFileNameExA";
    if (!psapi) {
        // Windows 7 and later carry the same functions in kernel32 (always loaded); only
        // when neither is there is the status library truly missing.
        library = GetModuleHandleA("kernel32.dll");
        enumName = "K32EnumProcessModules";
        pathName = "K32GetModuleFileNameExA";
        if (!library || !GetProcAddress(library, enumName) || !GetProcAddress(library, pathName)) {
            messages.Show("Can't load psapi.dll.");
            return false;
        }
    }
    enumProcessModules = BindEntry<EnumProcessModulesFn>(library, enumName);
    getModuleFileNameExA = BindEntry<GetModuleFileNameExAFn>(library, pathName);
    bool result = true;
    if (!enumProcessModules || !getModuleFileNameExA) {
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
    enumProcessModules = nullptr;
    getModuleFileNameExA = nullptr;
    return result;
}

void ModuleSnapshot::ListProcessModules(DWORD processId) {
    UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) {
        // Skipped silently, like every per-process failure; counted so a front end can say
        // that some processes were out of reach.
        if (GetLastError() == ERROR_ACCESS_DENIED) ++deniedProcesses;
        return;
    }
    DWORD needed = 0;
    if (!enumProcessModules(process.get(), nullptr, 0, &needed)) return;
    std::vector<HMODULE> modules;
    DWORD reported = needed;
    for (int round = 0; round < kMaxEnumRounds; ++round) {
        modules.resize(reported / sizeof(HMODULE));
        const auto bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!enumProcessModules(process.get(), modules.data(), bytes, &reported)) return;
        if (reported <= bytes) {
            modules.resize(reported / sizeof(HMODULE));
            break;
        }
        // More modules than room: the array holds the first ones; go round for the rest.
    }
    for (HMODULE module : modules) {
        ModuleEntry entry;
        if (!ReadModulePath(process.get(), module, entry.Path)) continue;
        entry.ProcessId = processId;
        entry.Module = module;
        entries.push_back(std::move(entry));
    }
}

bool ModuleSnapshot::ReadModulePath(HANDLE process, HMODULE module, std::string& path) const {
    // The function cuts a long path to the buffer and still succeeds; a result that fills the
    // buffer may have been cut, so ask again with more room.
    for (DWORD size = MAX_PATH; size <= kMaxPathBytes; size *= 2) {
        std::string buffer(size, '\0');
        const DWORD length = getModuleFileNameExA(process, module, buffer.data(), size);
        if (length == 0) return false;
        if (length < size - 1) {
            buffer.resize(length);
            path = std::move(buffer);
            return true;
        }
    }
    return false;
}

}  // namespace vesperlin::win32

#pragma once
// Every module (executable image and libraries) of every process we can open, with its full
// path, as one flat list: processes in the process snapshot's index order, modules in the
// order the platform reports them.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "sysinfo/messages.h"

namespace vesperlin::sysinfo::win32 {

constexpr LONG AllProcesses = -1;

struct ModuleEntry {
    DWORD ProcessId = 0;
    std::string Path;  // as GetModuleFileNameExW reports it, of any length
    HMODULE Module = nullptr;
};

// The process status entry points a module walk needs, all from one library.
struct ModuleWalkApi {
    using EnumProcessModulesExFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD, DWORD);
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
    using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

    EnumProcessModulesExFn enumProcessModulesEx = nullptr;
    EnumProcessModulesFn enumProcessModules = nullptr;  // bound only where the Ex form is missing
    GetModuleFileNameExWFn getModuleFileNameExW = nullptr;

    // A way to list modules and a way to name them.
    bool Complete() const {
        return (enumProcessModulesEx || enumProcessModules) && getModuleFileNameExW;
    }
    // The module handles of `process`, 32-bit ones included, with EnumProcessModules's contract.
    BOOL EnumModules(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD needed) const;
};

// An entry point of the library being bound, by name; null when it has none.
using EntryLookup = std::function<FARPROC(const char* name)>;

// Binds the walk's entries through `lookup`, each name with `prefix` in front ("K32" for the
// copies in kernel32). Check Complete() on the result.
ModuleWalkApi BindModuleWalkApi(const EntryLookup& lookup, const char* prefix = "");

class ModuleSnapshot {
  public:
    // `messages` receives the failure texts of Refresh and must outlive the snapshot.
    ModuleSnapshot(Messages& messages, LONG processFilter = AllProcesses, bool refreshNow = false);
    ModuleSnapshot(const ModuleSnapshot&) = delete;
    ModuleSnapshot& operator=(const ModuleSnapshot&) = delete;

    // Rebuilds the list; false after a reported failure (the list is then empty).
    bool Refresh();
    const std::vector<ModuleEntry>& Entries() const { return entries; }
    // Processes of the last Refresh that were skipped because we may not open them.
    const std::vector<DWORD>& DeniedProcesses() const { return deniedProcesses; }

  private:
    void ListProcessModules(DWORD processId);
    bool ReadModulePath(HANDLE process, HMODULE module, std::string& path) const;

    Messages& messages;
    LONG processFilter;
    std::vector<ModuleEntry> entries;
    std::vector<DWORD> deniedProcesses;
    // Valid only while Refresh runs: the library is released at its end.
    ModuleWalkApi api;
};

}  // namespace vesperlin::sysinfo::win32

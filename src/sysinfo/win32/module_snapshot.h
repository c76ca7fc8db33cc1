#pragma once
// Every module (executable image and libraries) of every process we can open, with its full
// path, as one flat list: processes in the process snapshot's index order, modules in the
// order the platform reports them.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "sysinfo/messages.h"

namespace vesperlin::win32 {

constexpr LONG AllProcesses = -1;

struct ModuleEntry {
    DWORD ProcessId = 0;
    std::string Path;  // as GetModuleFileNameExA reports it, of any length
    HMODULE Module = nullptr;
};

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
    std::size_t DeniedProcesses() const { return deniedProcesses; }

  private:
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
    using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

    void ListProcessModules(DWORD processId);
    bool ReadModulePath(HANDLE process, HMODULE module, std::string& path) const;

    Messages& messages;
    LONG processFilter;
    std::vector<ModuleEntry> entries;
    std::size_t deniedProcesses = 0;
    // Valid only while Refresh runs: the library is released at its end.
    EnumProcessModulesFn enumProcessModules = nullptr;
    GetModuleFileNameExAFn getModuleFileNameExA = nullptr;
};

}  // namespace vesperlin::win32

#pragma once
// The system seam on Windows: the native snapshots, the platform's path functions and its
// case rules.

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

#include <windows.h>

namespace vesperlin::sysinfo::win32 {

class Win32System : public System {
  public:
    // `messages` receives the snapshots' failure texts and must outlive the object.
    explicit Win32System(Messages& messages) : messages(messages) {}

    std::unique_ptr<ProcessNames> TakeProcessSnapshot() override;
    bool TakeModuleSnapshot(std::vector<ModuleRecord>& modules) override;
    std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot() override;
    bool TakeMappedFileSnapshot(const std::vector<HandleTarget>& targets,
                                const std::vector<ProcessId>& reported,
                                std::vector<MappedFileRecord>& mapped) override;
    bool GetFullPath(const std::string& path, std::string& fullPath) override;
    bool GetDeviceFileName(const std::string& path, std::string& deviceForm) override;
    bool ModuleMatches(const std::string& modulePath, const std::string& fullPath) override;
    bool HandleMatches(const std::string& handleName, const std::string& deviceForm,
                       const std::string& fullPath) override;
    PathKind Classify(const std::string& path) override;
    bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) override;
    std::string JoinPath(const std::string& folder, const std::string& name) override;
    std::string FileNamePart(const std::string& path) override;
    std::size_t InaccessibleProcessCount() const override { return InaccessibleProcesses().size(); }
    // The processes that the last module, handle or mapped-file snapshot was not allowed to
    // open, each once, in ascending order.
    std::vector<DWORD> InaccessibleProcesses() const;
    ProcessId OwnProcessId() const override;
    std::string DescribePathFailure(const std::string& path) override;
    bool GetScopeForm(const std::string& fullPath, Scope scope, std::string& scopeForm) override;
    bool ModuleInScope(const std::string& modulePath, const HandleTarget& target) override;
    bool HandleInScope(ProcessId processId, const std::string& handleName, const FileUse& use,
                       const HandleTarget& target, std::string& shownPath) override;
    bool DescribeProcess(ProcessId processId, ProcessDetails& details) override;

  private:
    Messages& messages;
    std::vector<DWORD> moduleDenied;
    std::vector<DWORD> handleDenied;
    std::vector<DWORD> mappedDenied;
    // Module path -> its final path (empty: none), for the modules of the last snapshot.
    std::unordered_map<std::string, std::string> moduleFinalPaths;
};

}  // namespace vesperlin::sysinfo::win32

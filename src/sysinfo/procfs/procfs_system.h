#pragma once
// The system seam read from /proc. Handle names and device forms are file identities
// ("dev:ino"), so a file is found through any of its names, /proc/PID/fd/N included; module
// paths are matched by identity too, and a full path is only what is shown.

#include <string>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/procfs/fd_walk.h"
#include "sysinfo/procfs/module_table.h"
#include "sysinfo/procfs/proc_dir.h"
#include "sysinfo/system.h"

namespace vesperlin::sysinfo::procfs {

// The name shown for a process: the file name of its executable without a " (deleted)"
// suffix, or its comm when the executable link cannot be read (kernel threads, processes of
// other users). False when neither can be read.
bool ReadImageName(int procFd, ProcessId processId, std::string& imageName);

class ProcfsSystem : public System {
  public:
    explicit ProcfsSystem(Messages& messages);

    std::unique_ptr<ProcessNames> TakeProcessSnapshot() override;
    bool TakeModuleSnapshot(std::vector<ModuleRecord>& modules) override;
    std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot() override;
    bool GetFullPath(const std::string& path, std::string& fullPath) override;
    bool GetDeviceFileName(const std::string& path, std::string& deviceForm) override;
    bool ModuleMatches(const std::string& modulePath, const std::string& fullPath) override;
    bool HandleMatches(const std::string& handleName, const std::string& deviceForm,
                       const std::string& fullPath) override;
    PathKind Classify(const std::string& path) override;
    bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) override;
    std::string JoinPath(const std::string& folder, const std::string& name) override;
    std::string FileNamePart(const std::string& path) override;
    std::size_t InaccessibleProcessCount() const override;
    ProcessId OwnProcessId() const override;
    std::string DescribePathFailure(const std::string& path) override;
    bool GetScopeForm(const std::string& fullPath, Scope scope, std::string& scopeForm) override;
    bool ModuleInScope(const std::string& modulePath, const HandleTarget& target) override;
    bool HandleInScope(ProcessId processId, const std::string& handleName, const FileUse& use,
                       const HandleTarget& target, std::string& shownPath) override;
    bool DescribeProcess(ProcessId processId, ProcessDetails& details) override;
    bool ExactHandleNames(const std::string& deviceForm, std::vector<std::string>& names) override;

  private:
    Messages& messages;
    KernelDevices kernelDevices;
    ModuleTable moduleTable;
    std::vector<ProcessId> moduleDenied;
    std::vector<ProcessId> handleDenied;
    UniqueFd procRoot;  // opened on first need by the scope and detail readers
    int ProcRoot();
};

}  // namespace vesperlin::sysinfo::procfs

#pragma once
// A scripted system for tests: processes, modules, file handles, path forms and folder
// listings are whatever the test sets. Paths follow Windows rules: backslash separators,
// drive letters, and (by default) comparisons that ignore ASCII case.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::testing {

class FakeSystem : public sysinfo::System {
  public:
    using ProcessTable = std::map<sysinfo::ProcessId, std::string>;

    struct FileHandle {
        FileHandle(sysinfo::ProcessId processId, bool named, std::string name,
                   sysinfo::FileUse use = sysinfo::UseOf(sysinfo::UseKind::Handle))
            : processId(processId), named(named), name(std::move(name)), use(use) {}

        sysinfo::ProcessId processId = 0;
        bool named = true;  // false: the name could not be resolved
        std::string name;
        sysinfo::FileUse use;
    };

    // --- the script ---
    ProcessTable processes;  // what every process snapshot lists...
    // ...unless these are set: the n-th snapshot taken lists processSnapshots[n] (the last one
    // repeats), so a process can vanish between the module pass and the handle pass.
    std::vector<ProcessTable> processSnapshots;
    bool processSnapshotFails = false;  // every Lookup then answers false

    std::vector<sysinfo::ModuleRecord> modules;
    bool moduleSnapshotFails = false;

    std::vector<FileHandle> handles;

    std::vector<sysinfo::MappedFileRecord> mapped;  // files mapped as data, in walk order
    bool mappedSnapshotFails = false;

    // The current folder used to complete relative paths, paths that cannot be completed, and
    // paths whose full path the system gives in another form (a link resolved, a short name
    // made long).
    std::string currentFolder = "C:\\work";
    std::set<std::string> fullPathFailures;
    std::map<std::string, std::string> fullPathForms;

    // Drive letter (upper case) -> device; a path on another drive, or not starting with a
    // drive letter and colon, has no device form. Paths listed here fail too.
    std::map<char, std::string> devices = {{'C', "\\Device\\HarddiskVolume1"},
                                           {'D', "\\Device\\HarddiskVolume2"}};
    std::set<std::string> deviceFailures;

    std::map<std::string, sysinfo::PathKind> kinds;           // anything not listed is Unreadable
    std::map<std::string, std::vector<std::string>> folders;  // full path -> entry names
    std::set<std::string> listingFailures;

    bool ignoreCase = true;
    // Handle names match by plain equality with the device form, which ExactHandleNames lists,
    // as on Linux.
    bool exactNames = false;
    std::size_t inaccessible = 0;
    sysinfo::ProcessId ownProcessId =
        0xFFFF0000;  // the querying process; no scripted process by default

    // Where the system itself reports its failures, as the platform systems do (they show
    // these texts when the process list cannot be read and the module list therefore not
    // either); null: nowhere.
    sysinfo::Messages* messages = nullptr;
    static constexpr const char* kProcessListFailure = "Couldn't query system information.";
    static constexpr const char* kModuleListFailure =
        "Can't get process information start position.";

    std::map<sysinfo::ProcessId, sysinfo::ProcessDetails> details;  // what DescribeProcess answers

    // --- what happened ---
    std::size_t moduleSnapshotsTaken = 0;
    std::size_t processSnapshotsTaken = 0;
    std::size_t handleSnapshotsTaken = 0;
    std::size_t handleComparisons = 0;    // calls of HandleMatches
    std::vector<std::string> translated;  // every path handed to GetDeviceFileName
    std::vector<std::vector<sysinfo::HandleTarget>>
        handleLimits;  // every limit put on a handle snapshot
    std::vector<std::vector<sysinfo::HandleTarget>>
        mappedTargets;  // the targets of every mapped snapshot
    std::vector<std::vector<sysinfo::ProcessId>>
        mappedReported;  // and the processes it need not walk

    // Rule used by GetFullPath: absolute paths stay, others get currentFolder in front;
    // "." and ".." segments are not resolved (tests do not need them).
    static bool IsAbsolute(const std::string& path);
    bool Equal(const std::string& a, const std::string& b) const;

    // --- System ---
    std::unique_ptr<sysinfo::ProcessNames> TakeProcessSnapshot() override;
    bool TakeModuleSnapshot(std::vector<sysinfo::ModuleRecord>& out) override;
    std::unique_ptr<sysinfo::FileHandleSnapshot> TakeFileHandleSnapshot() override;
    bool TakeMappedFileSnapshot(const std::vector<sysinfo::HandleTarget>& targets,
                                const std::vector<sysinfo::ProcessId>& reported,
                                std::vector<sysinfo::MappedFileRecord>& out) override;
    bool GetFullPath(const std::string& path, std::string& fullPath) override;
    bool GetDeviceFileName(const std::string& path, std::string& deviceForm) override;
    bool ModuleMatches(const std::string& modulePath, const std::string& fullPath) override;
    bool HandleMatches(const std::string& handleName, const std::string& deviceForm,
                       const std::string& fullPath) override;
    bool ExactHandleNames(const std::string& deviceForm, std::vector<std::string>& names) override;
    sysinfo::PathKind Classify(const std::string& path) override;
    bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) override;
    std::string JoinPath(const std::string& folder, const std::string& name) override;
    std::string FileNamePart(const std::string& path) override;
    std::size_t InaccessibleProcessCount() const override { return inaccessible; }
    sysinfo::ProcessId OwnProcessId() const override { return ownProcessId; }
    // Wider scopes by prefix: the device form of the folder (Under) or of the drive (Volume),
    // the handle name's rest appended to the full path to show it.
    bool GetScopeForm(const std::string& fullPath, sysinfo::Scope scope,
                      std::string& scopeForm) override;
    bool ModuleInScope(const std::string& modulePath, const sysinfo::HandleTarget& target) override;
    bool HandleInScope(sysinfo::ProcessId processId, const std::string& handleName,
                       const sysinfo::FileUse& use, const sysinfo::HandleTarget& target,
                       std::string& shownPath) override;
    bool DescribeProcess(sysinfo::ProcessId processId, sysinfo::ProcessDetails& out) override;
    // "no full path" or "no device form", after the step that fails for the path.
    std::string DescribePathFailure(const std::string& path) override;
};

// Keeps every message shown, in order.
class RecordingMessages : public sysinfo::Messages {
  public:
    void Show(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

}  // namespace vesperlin::testing

#pragma once
// The system seam: everything the usage query needs to know about the running system, and
// nothing more. sysinfo/win32 implements it with the native snapshots, sysinfo/procfs from
// /proc, tests/fakes as a script. The query never calls the platform itself.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sysinfo/file_use.h"

namespace vesperlin::sysinfo {

using ProcessId = std::uint32_t;

// Identifier -> image name, as read at one moment. Lookup of a process that was not listed
// answers false; after a failed reading every lookup answers false.
class ProcessNames {
  public:
    virtual ~ProcessNames() = default;
    virtual bool Lookup(ProcessId processId, std::string& imageName) const = 0;
};

// One loaded module or mapped file of one process.
struct ModuleRecord {
    ModuleRecord() = default;
    ModuleRecord(ProcessId processId, std::string path, FileUse use = UseOf(UseKind::Module))
        : processId(processId), path(std::move(path)), use(use) {}

    ProcessId processId = 0;
    std::string path;  // full path as the platform reports it
    FileUse use;       // Module, or on Linux Executable or Mapping
};

// How far a query looks from its path: the file itself, anything under a folder at any depth,
// or anything on the file system (volume) that holds the path.
enum class Scope : std::uint8_t { Exact, Under, Volume };

// A file a query looks for, in the two forms that System::HandleMatches takes. A wider scope
// carries the form System::GetScopeForm made instead of the device form, and is matched
// through System::ModuleInScope and System::HandleInScope.
struct HandleTarget {
    std::string deviceForm;
    std::string fullPath;
    Scope scope = Scope::Exact;
};

// What the console's long forms show of a process besides its image name. Empty fields could
// not be read.
struct ProcessDetails {
    std::string user;
    std::string programPath;  // the program's full path
    std::string commandLine;  // arguments joined by blanks
};

// The open "File" handles of the system at one moment, in the order of the system's table.
class FileHandleSnapshot {
  public:
    virtual ~FileHandleSnapshot() = default;
    virtual std::size_t Count() const = 0;
    // Before a visit: the files the visit looks for. Naming is the costly part of a visit, and a
    // snapshot that can tell cheaply that a row names none of them may visit it unnamed instead;
    // a row that System::HandleMatches would accept for one of them is always named. A target
    // of a wider scope admits every row that System::HandleInScope may accept for it, named
    // and with its use, so a snapshot that cannot tell them cheaply names every row. Without a
    // call every row is named.
    virtual void LimitNamesTo(std::vector<HandleTarget> targets) { (void)targets; }
    // Visits every row in table order with its resolved name and how its process uses the
    // file. `named` is false when the name could not be resolved (such a row matches
    // nothing). The walk stops as soon as `visit` returns false. Resolving may run ahead of
    // the visit, but rows are always reported in table order. After a limit, a row that
    // cannot name a target may come with less of its use known (its access, say).
    using UseVisitor = std::function<bool(ProcessId processId, bool named, const std::string& name,
                                          const FileUse& use)>;
    virtual void VisitUses(const UseVisitor& visit) = 0;

    // The same without the uses.
    using Visitor = std::function<bool(ProcessId processId, bool named, const std::string& name)>;
    void VisitNames(const Visitor& visit) {
        VisitUses([&](ProcessId processId, bool named, const std::string& name, const FileUse&) {
            return visit(processId, named, name);
        });
    }
};

// A file mapped as data into a process (a view of a file mapping), which keeps the file in use
// after its handles are closed.
struct MappedFileRecord {
    ProcessId processId = 0;
    std::string name;  // in the form handle names take: compared through System::HandleMatches
};

enum class PathKind { File, Folder, Unreadable };

class System {
  public:
    virtual ~System() = default;

    // Reads the process list. Never null; on failure (already reported through the
    // implementation's Messages) every Lookup answers false.
    virtual std::unique_ptr<ProcessNames> TakeProcessSnapshot() = 0;

    // Every module of every process that can be inspected, in the platform's walk order.
    // False when the module list could not be read at all (already reported).
    virtual bool TakeModuleSnapshot(std::vector<ModuleRecord>& modules) = 0;

    // Every open "File" handle. Never null; a failed reading gives an empty snapshot.
    virtual std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot() = 0;

    // Every file mapped as data into a process that can be inspected, one record per process
    // and name. A record that HandleMatches accepts for one of `targets` is always listed,
    // unless its process is one of `reported` (processes the query has reported for every
    // target already, which need not be walked); others may be left out. False when the
    // process list could not be read (already reported). A system whose module snapshot lists
    // mapped files already lists none here.
    virtual bool TakeMappedFileSnapshot(const std::vector<HandleTarget>& targets,
                                        const std::vector<ProcessId>& reported,
                                        std::vector<MappedFileRecord>& mapped) {
        (void)targets;
        (void)reported;
        mapped.clear();
        return true;
    }

    // The absolute form of a path (GetFullPathName on Windows, the canonical path on Linux).
    virtual bool GetFullPath(const std::string& path, std::string& fullPath) = 0;

    // The form in which handle names show the file at `path` (the NT device path on
    // Windows, the file's identity on Linux). False when it cannot be formed.
    virtual bool GetDeviceFileName(const std::string& path, std::string& deviceForm) = 0;

    // Whether a module path names the requested full path (case rules are the platform's).
    virtual bool ModuleMatches(const std::string& modulePath, const std::string& fullPath) = 0;

    // Whether a handle name names the requested file, given its device form and full path.
    virtual bool HandleMatches(const std::string& handleName, const std::string& deviceForm,
                               const std::string& fullPath) = 0;

    // When a handle name matches a target exactly when it equals one of a few texts (no case
    // rules, no other forms), those texts: a query of thousands of paths then looks each row
    // up instead of comparing it with every path. False when HandleMatches must be asked.
    virtual bool ExactHandleNames(const std::string& deviceForm, std::vector<std::string>& names) {
        (void)deviceForm;
        (void)names;
        return false;
    }

    // File, folder, or attributes that cannot be read.
    virtual PathKind Classify(const std::string& path) = 0;

    // The names of a folder's direct entries in the platform's listing order, "." and ".."
    // included if the platform lists them. False when the listing fails or breaks off.
    virtual bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) = 0;

    // `folder` joined with an entry name by the platform's separator (one separator only).
    virtual std::string JoinPath(const std::string& folder, const std::string& name) = 0;

    // The text after the last separator of a path, or the whole path without one.
    virtual std::string FileNamePart(const std::string& path) = 0;

    // Processes that the last snapshots had to skip because the user may not inspect them.
    virtual std::size_t InaccessibleProcessCount() const { return 0; }

    // The process the queries run in. What it holds while it asks (the snapshots' own handles
    // and descriptors) says nothing about who uses a file, so it is never a hit.
    virtual ProcessId OwnProcessId() const = 0;

    // The form a wider scope around the full path `fullPath` is matched in (the file system's
    // device on Linux, the folder's or volume's name prefixes on Windows). False when it cannot
    // be formed; the base system knows no wider scope.
    virtual bool GetScopeForm(const std::string& fullPath, Scope scope, std::string& scopeForm) {
        (void)fullPath;
        (void)scope;
        (void)scopeForm;
        return false;
    }

    // Whether a module path lies in a wider scope. Found from the path (and the device it is
    // on), never by walking the folder.
    virtual bool ModuleInScope(const std::string& modulePath, const HandleTarget& target) {
        (void)modulePath;
        (void)target;
        return false;
    }

    // Whether a handle row (or mapped file record, with a use of kind Mapping) lies in a wider
    // scope; `shownPath` then receives the path of the file it names, as the user knows it.
    virtual bool HandleInScope(ProcessId processId, const std::string& handleName,
                               const FileUse& use, const HandleTarget& target,
                               std::string& shownPath) {
        (void)processId;
        (void)handleName;
        (void)use;
        (void)target;
        (void)shownPath;
        return false;
    }

    // The user, program path and command line of a process. False when the process is gone
    // or none of them can be read.
    virtual bool DescribeProcess(ProcessId processId, ProcessDetails& details) {
        (void)processId;
        details = ProcessDetails();
        return false;
    }

    // Why GetFullPath or GetDeviceFileName failed for `path`, in a few words for the user
    // ("no such file or folder", "a symbolic link that leads nowhere"). Asked only after a
    // failure; the path may have changed since.
    virtual std::string DescribePathFailure(const std::string& path) {
        (void)path;
        return "cannot be read";
    }
};

}  // namespace vesperlin::sysinfo

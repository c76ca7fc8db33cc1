#include "fakes/fake_system.h"

#include <algorithm>
#include <cctype>

namespace vesperlin::testing {

namespace {

class FakeProcessNames : public sysinfo::ProcessNames {
  public:
    FakeProcessNames(FakeSystem::ProcessTable table, bool failed)
        : table(std::move(table)), failed(failed) {}
    bool Lookup(sysinfo::ProcessId processId, std::string& imageName) const override {
        if (failed) return false;
        const auto it = table.find(processId);
        if (it == table.end()) return false;
        imageName = it->second;
        return true;
    }

  private:
    FakeSystem::ProcessTable table;
    bool failed;
};

// Honours a limit as strictly as any snapshot may: once limited, only rows that the system
// matches with one of the targets are named. A query that limits to the wrong targets loses
// its hits here.
class FakeHandleSnapshot : public sysinfo::FileHandleSnapshot {
  public:
    FakeHandleSnapshot(FakeSystem& system, std::vector<FakeSystem::FileHandle> rows)
        : system(system), rows(std::move(rows)) {}
    std::size_t Count() const override { return rows.size(); }
    void LimitNamesTo(std::vector<sysinfo::HandleTarget> limit) override {
        system.handleLimits.push_back(limit);
        // As strict as a snapshot may be: every row that a wider scope may take stays named.
        limited = std::none_of(limit.begin(), limit.end(), [](const sysinfo::HandleTarget& target) {
            return target.scope != sysinfo::Scope::Exact;
        });
        targets = std::move(limit);
    }
    void VisitUses(const UseVisitor& visit) override {
        for (const auto& row : rows) {
            const bool named = row.named && (!limited || MayMatch(row.name));
            if (!visit(row.processId, named, named ? row.name : std::string(), row.use)) return;
        }
    }

  private:
    bool MayMatch(const std::string& name) const {
        return std::any_of(
            targets.begin(), targets.end(), [&](const sysinfo::HandleTarget& target) {
                return system.HandleMatches(name, target.deviceForm, target.fullPath);
            });
    }

    FakeSystem& system;
    std::vector<FakeSystem::FileHandle> rows;
    std::vector<sysinfo::HandleTarget> targets;
    bool limited = false;
};

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool HasDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

}  // namespace

bool FakeSystem::IsAbsolute(const std::string& path) {
    return (HasDrive(path) && path.size() >= 3 && path[2] == '\\') || path.rfind("\\\\", 0) == 0;
}

bool FakeSystem::Equal(const std::string& a, const std::string& b) const {
    if (!ignoreCase) return a == b;
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

std::unique_ptr<sysinfo::ProcessNames> FakeSystem::TakeProcessSnapshot() {
    ProcessTable table = processes;
    if (!processSnapshots.empty()) {
        table = processSnapshots[std::min(processSnapshotsTaken, processSnapshots.size() - 1)];
    }
    ++processSnapshotsTaken;
    if (processSnapshotFails && messages) messages->Show(kProcessListFailure);
    return std::make_unique<FakeProcessNames>(std::move(table), processSnapshotFails);
}

bool FakeSystem::TakeModuleSnapshot(std::vector<sysinfo::ModuleRecord>& out) {
    out.clear();
    ++moduleSnapshotsTaken;
    if (moduleSnapshotFails) {
        if (messages) {
            messages->Show(kProcessListFailure);
            messages->Show(kModuleListFailure);
        }
        return false;
    }
    out = modules;
    return true;
}

std::unique_ptr<sysinfo::FileHandleSnapshot> FakeSystem::TakeFileHandleSnapshot() {
    ++handleSnapshotsTaken;
    return std::make_unique<FakeHandleSnapshot>(*this, handles);
}

bool FakeSystem::TakeMappedFileSnapshot(const std::vector<sysinfo::HandleTarget>& targets,
                                        const std::vector<sysinfo::ProcessId>& reported,
                                        std::vector<sysinfo::MappedFileRecord>& out) {
    mappedTargets.push_back(targets);
    mappedReported.push_back(reported);
    out.clear();
    if (mappedSnapshotFails) return false;
    // As strict as any snapshot may be: only records that match one of the targets are listed,
    // and none of a process said to be reported, so a query that passes the wrong targets or
    // processes loses its hits here.
    for (const sysinfo::MappedFileRecord& record : mapped) {
        if (std::find(reported.begin(), reported.end(), record.processId) != reported.end())
            continue;
        const bool wanted =
            std::any_of(targets.begin(), targets.end(), [&](const sysinfo::HandleTarget& t) {
                return HandleMatches(record.name, t.deviceForm, t.fullPath);
            });
        if (wanted) out.push_back(record);
    }
    return true;
}

bool FakeSystem::GetFullPath(const std::string& path, std::string& fullPath) {
    if (path.empty() || fullPathFailures.count(path)) return false;
    if (const auto form = fullPathForms.find(path); form != fullPathForms.end()) {
        fullPath = form->second;
        return true;
    }
    fullPath = IsAbsolute(path) ? path : JoinPath(currentFolder, path);
    return true;
}

bool FakeSystem::GetDeviceFileName(const std::string& path, std::string& deviceForm) {
    translated.push_back(path);
    if (!HasDrive(path) || deviceFailures.count(path)) return false;
    const auto device = devices.find(Upper(path[0]));
    if (device == devices.end()) return false;
    deviceForm = device->second + path.substr(2);
    return true;
}

bool FakeSystem::ModuleMatches(const std::string& modulePath, const std::string& fullPath) {
    return Equal(modulePath, fullPath);
}

bool FakeSystem::HandleMatches(const std::string& handleName, const std::string& deviceForm,
                               const std::string& fullPath) {
    ++handleComparisons;
    if (exactNames) return handleName == deviceForm;
    // Wine names disk files in the Win32 namespace form, Windows in the device form.
    return Equal(handleName, deviceForm) || Equal(handleName, "\\??\\" + fullPath);
}

bool FakeSystem::ExactHandleNames(const std::string& deviceForm, std::vector<std::string>& names) {
    if (!exactNames) return false;
    names = {deviceForm};
    return true;
}

namespace {

// The part of `text` after `prefix` and a backslash (or nothing after it), ignoring case.
bool RestAfter(const FakeSystem& system, const std::string& text, const std::string& prefix,
               std::string& rest) {
    if (text.size() < prefix.size() || !system.Equal(text.substr(0, prefix.size()), prefix))
        return false;
    rest = text.substr(prefix.size());
    return rest.empty() || rest[0] == '\\' || (!prefix.empty() && prefix.back() == '\\');
}

std::string ScopeRoot(const sysinfo::HandleTarget& target) {
    return target.scope == sysinfo::Scope::Volume ? target.fullPath.substr(0, 2) : target.fullPath;
}

}  // namespace

bool FakeSystem::GetScopeForm(const std::string& fullPath, sysinfo::Scope scope,
                              std::string& scopeForm) {
    return GetDeviceFileName(scope == sysinfo::Scope::Volume ? fullPath.substr(0, 2) : fullPath,
                             scopeForm);
}

bool FakeSystem::ModuleInScope(const std::string& modulePath, const sysinfo::HandleTarget& target) {
    std::string rest;
    return RestAfter(*this, modulePath, ScopeRoot(target), rest);
}

bool FakeSystem::HandleInScope(sysinfo::ProcessId, const std::string& handleName,
                               const sysinfo::FileUse&, const sysinfo::HandleTarget& target,
                               std::string& shownPath) {
    std::string rest;
    if (!RestAfter(*this, handleName, target.deviceForm, rest) &&
        !RestAfter(*this, handleName, "\\??\\" + ScopeRoot(target), rest))
        return false;
    shownPath = ScopeRoot(target) + rest;
    return true;
}

bool FakeSystem::DescribeProcess(sysinfo::ProcessId processId, sysinfo::ProcessDetails& out) {
    const auto found = details.find(processId);
    out = found == details.end() ? sysinfo::ProcessDetails() : found->second;
    return found != details.end();
}

std::string FakeSystem::DescribePathFailure(const std::string& path) {
    std::string fullPath;
    return GetFullPath(path, fullPath) ? "no device form" : "no full path";
}

sysinfo::PathKind FakeSystem::Classify(const std::string& path) {
    const auto it = kinds.find(path);
    return it == kinds.end() ? sysinfo::PathKind::Unreadable : it->second;
}

bool FakeSystem::ListFolder(const std::string& fullPath, std::vector<std::string>& names) {
    names.clear();
    const auto it = folders.find(fullPath);
    if (it == folders.end() || listingFailures.count(fullPath)) return false;
    names = it->second;
    return true;
}

std::string FakeSystem::JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

std::string FakeSystem::FileNamePart(const std::string& path) {
    const auto slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace vesperlin::testing

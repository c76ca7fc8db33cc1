#include "query/usage_query.h"

#include <algorithm>
#include <map>
#include <set>

#include "query/result_line.h"

namespace vesperlin {

namespace {

// Message texts are the program's historic ones, odd spelling included.
constexpr const char* kNoFullPath = "Cant't get full path name.";
constexpr const char* kNoModuleRefresh = "Can't refresh module information.";
constexpr const char* kNoModuleHead = "Can't get head of module information.";
constexpr const char* kNoDeviceName = "Can't get device filename.";
constexpr const char* kNoHandleHead = "Can't handle info head position.";

// The pass that found a hit.
enum class Pass { Module, Handle, Mapped };

// Reports one hit: the line (with the duplicate test) and the observer. Hits of the querying
// process itself are dropped: its handles and mappings are artifacts of the asking.
class HitReporter {
  public:
    HitReporter(System& system, ResultList& results, const HitObserver& onHit)
        : results(results), onHit(onHit), self(system.OwnProcessId()) {}

    // `withPath`: the list form "image (path)"; an unknown process gets empty text either way.
    void Report(const ProcessNames& names, ProcessId processId, const std::string& path, Pass pass,
                bool withPath, const FileUse& use) {
        if (processId == self) return;
        Hit hit;
        hit.processId = processId;
        hit.path = path;
        hit.asModule = pass == Pass::Module;
        hit.asMapped = pass == Pass::Mapped;
        hit.use = use;
        hit.processFound = names.Lookup(processId, hit.imageName);
        if (!hit.processFound) hit.imageName.clear();
        std::string text;
        if (hit.processFound) {
            text = hit.imageName;
            if (withPath) text += " (" + path + ")";
        }
        AddResultLine(results, processId, text);
        if (onHit) onHit(hit);
        reportedPaths[processId].insert(path);
    }

    // The processes reported with every one of `shown` already, and the querying process,
    // whose hits are never reported: neither needs its address space walked.
    std::vector<ProcessId> ReportedForAll(const std::vector<const std::string*>& shown) const {
        std::vector<ProcessId> all{self};
        for (const auto& [processId, paths] : reportedPaths) {
            // Fewer paths than targets cannot cover them all (a folder's thousands of entries).
            if (paths.size() < shown.size()) continue;
            const std::set<std::string>& seen = paths;  // a binding clang 14 lets lambdas use
            const bool every =
                std::all_of(shown.begin(), shown.end(),
                            [&](const std::string* path) { return seen.count(*path) != 0; });
            if (every) all.push_back(processId);
        }
        return all;
    }

  private:
    ResultList& results;
    const HitObserver& onHit;
    ProcessId self;
    std::map<ProcessId, std::set<std::string>> reportedPaths;
};

// The mapped pass, after the handle pass: a file mapped as data stays in use after its
// handles are closed, with nothing in the other passes to show for it. `shown[i]` is the path
// that hits of `targets[i]` show, as in the handle pass; one record per process and name, so a
// process is reported once per path. A process already reported for every target is not
// walked: its lines are there, and walking address spaces is the costly part. Silent when the
// process list cannot be read: the snapshot has said so.
void ReportMappedHits(System& system, HitReporter& reporter,
                      const std::vector<HandleTarget>& targets,
                      const std::vector<const std::string*>& shown, bool withPath) {
    std::vector<MappedFileRecord> mapped;
    if (!system.TakeMappedFileSnapshot(targets, reporter.ReportedForAll(shown), mapped) ||
        mapped.empty())
        return;
    const auto names = system.TakeProcessSnapshot();
    const FileUse use = UseOf(UseKind::Mapping);
    for (const MappedFileRecord& record : mapped) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            if (system.HandleMatches(record.name, targets[i].deviceForm, targets[i].fullPath)) {
                reporter.Report(*names, record.processId, *shown[i], Pass::Mapped, withPath, use);
            }
        }
    }
}

}  // namespace

bool QueryPath(System& system, ResultList& results, Messages& messages, const std::string& path,
               const std::string& notUsedFormat, const HitObserver& onHit) {
    HitReporter reporter(system, results, onHit);

    std::string fullPath;
    if (!system.GetFullPath(path, fullPath)) {
        messages.Show(kNoFullPath);
        return true;
    }

    {
        std::vector<ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules)) {
            messages.Show(kNoModuleRefresh);
            return true;
        }
        if (modules.empty()) {
            messages.Show(kNoModuleHead);
            return true;
        }
        const auto names = system.TakeProcessSnapshot();
        for (const ModuleRecord& module : modules) {
            if (system.ModuleMatches(module.path, fullPath)) {
                reporter.Report(*names, module.processId, fullPath, Pass::Module, false,
                                module.use);
            }
        }
    }

    // The full path, not the path as given: a relative path must reach the handle pass.
    // The translation comes before the handle snapshot, which is the costly part.
    std::string deviceForm;
    {
        if (!system.GetDeviceFileName(fullPath, deviceForm)) {
            messages.Show(kNoDeviceName);
            return true;
        }
        const auto handles = system.TakeFileHandleSnapshot();
        if (handles->Count() == 0) {
            messages.Show(kNoHandleHead);
            return true;
        }
        handles->LimitNamesTo({{deviceForm, fullPath}});
        // Handle hits are named from a snapshot of their own: processes may have come and gone
        // while the module pass ran.
        const auto names = system.TakeProcessSnapshot();
        handles->VisitUses(
            [&](ProcessId processId, bool named, const std::string& name, const FileUse& use) {
                if (named && system.HandleMatches(name, deviceForm, fullPath)) {
                    reporter.Report(*names, processId, fullPath, Pass::Handle, false, use);
                }
                return true;
            });
    }

    ReportMappedHits(system, reporter, {{deviceForm, fullPath}}, {&fullPath}, false);

    // Counts every line, not only this query's: callers start each query from an empty list.
    if (results.Count() == 0) {
        results.Add(FormatNotUsedLine(notUsedFormat, system.FileNamePart(path)));
    }
    return false;
}

namespace {

// One element of a list query with the forms it is matched in.
struct ListTarget {
    const std::string* path;  // as the list holds it: the text of handle-pass lines
    std::string fullPath;     // compared with module paths, and the text of module-pass lines
    std::string deviceForm;   // compared with handle names
};

// The elements whose full path and device form can be formed, in list order. The device form
// is that of the element as the list holds it. The others are told to `onSkip`.
std::vector<ListTarget> FormTargets(System& system, const std::vector<std::string>& paths,
                                    const SkipObserver& onSkip) {
    std::vector<ListTarget> targets;
    targets.reserve(paths.size());
    for (const std::string& path : paths) {
        ListTarget target{&path, {}, {}};
        if (!system.GetFullPath(path, target.fullPath) ||
            !system.GetDeviceFileName(path, target.deviceForm)) {
            if (onSkip) onSkip(path, system.DescribePathFailure(path));
            continue;
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

}  // namespace

bool QueryPaths(System& system, ResultList& results, const std::vector<std::string>& paths,
                const HitObserver& onHit, const SkipObserver& onSkip) {
    HitReporter reporter(system, results, onHit);
    // Formed before either pass: an element that cannot be formed is left out of both, and
    // the handle pass names only handles that may be one of the others.
    const std::vector<ListTarget> targets = FormTargets(system, paths, onSkip);
    if (targets.empty()) return false;

    {
        std::vector<ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules) || modules.empty()) return true;
        const auto names = system.TakeProcessSnapshot();
        for (const ModuleRecord& module : modules) {
            for (const ListTarget& target : targets) {
                if (system.ModuleMatches(module.path, target.fullPath)) {
                    reporter.Report(*names, module.processId, target.fullPath, Pass::Module, true,
                                    module.use);
                }
            }
        }
    }

    const auto handles = system.TakeFileHandleSnapshot();
    if (handles->Count() == 0) return true;
    const auto names = system.TakeProcessSnapshot();
    std::vector<HandleTarget> limit;
    std::vector<const std::string*> shown;
    limit.reserve(targets.size());
    shown.reserve(targets.size());
    for (const ListTarget& target : targets) {
        limit.push_back({target.deviceForm, target.fullPath});
        shown.push_back(target.path);
    }
    handles->LimitNamesTo(limit);
    handles->VisitUses(
        [&](ProcessId processId, bool named, const std::string& name, const FileUse& use) {
            if (!named) return true;
            for (const ListTarget& target : targets) {
                if (system.HandleMatches(name, target.deviceForm, target.fullPath)) {
                    reporter.Report(*names, processId, *target.path, Pass::Handle, true, use);
                }
            }
            return true;
        });
    ReportMappedHits(system, reporter, limit, shown, true);
    return false;
}

bool CollectFolderPaths(System& system, const std::string& folder,
                        std::vector<std::string>& paths) {
    paths.clear();
    std::string fullPath;
    if (!system.GetFullPath(folder, fullPath)) return false;
    std::vector<std::string> names;
    if (!system.ListFolder(fullPath, names)) return false;
    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        paths.push_back(system.JoinPath(fullPath, name));
    }
    paths.push_back(fullPath);
    return true;
}

bool ExpandFolder(System& system, ResultList& results, const std::string& folder,
                  const HitObserver& onHit, bool* queryStopped, const SkipObserver& onSkip) {
    if (queryStopped) *queryStopped = false;
    std::vector<std::string> paths;
    if (!CollectFolderPaths(system, folder, paths)) return false;
    // The folder itself is the last element; left out, it is the query that failed.
    bool folderLeftOut = false;
    const SkipObserver noteSkip = [&](const std::string& path, const std::string& reason) {
        if (path == paths.back()) folderLeftOut = true;
        if (onSkip) onSkip(path, reason);
    };
    const bool stopped = QueryPaths(system, results, paths, onHit, noteSkip);
    if (queryStopped) *queryStopped = stopped || folderLeftOut;
    return true;
}

}  // namespace vesperlin

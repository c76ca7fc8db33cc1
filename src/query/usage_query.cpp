#include "query/usage_query.h"

#include <algorithm>
#include <map>
#include <optional>
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

// Reports one hit: the line (with the duplicate test) and the observer.
class HitReporter {
  public:
    HitReporter(ResultList& results, const HitObserver& onHit) : results(results), onHit(onHit) {}

    // `withPath`: the list form "image (path)"; an unknown process gets empty text either way.
    void Report(const ProcessNames& names, ProcessId processId, const std::string& path, Pass pass,
                bool withPath) {
        Hit hit;
        hit.processId = processId;
        hit.path = path;
        hit.asModule = pass == Pass::Module;
        hit.asMapped = pass == Pass::Mapped;
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

    // The processes reported with each of `targets`' paths already.
    std::vector<ProcessId> ReportedForAll(const std::vector<HandleTarget>& targets) const {
        std::vector<ProcessId> all;
        for (const auto& [processId, paths] : reportedPaths) {
            // Fewer paths than targets cannot cover them all (a folder's thousands of entries).
            if (paths.size() < targets.size()) continue;
            const bool every = std::all_of(targets.begin(), targets.end(), [&](const auto& target) {
                return paths.count(target.fullPath) != 0;
            });
            if (every) all.push_back(processId);
        }
        return all;
    }

  private:
    ResultList& results;
    const HitObserver& onHit;
    std::map<ProcessId, std::set<std::string>> reportedPaths;
};

// The mapped pass, after the handle pass: a file mapped as data stays in use after its
// handles are closed, with nothing in the other passes to show for it. Reported as the handle
// pass reports, `targets[i].fullPath` being the path shown; one record per process and name,
// so a process is reported once per path. A process already reported for every target is
// not walked: its lines are there, and walking address spaces is the costly part. Silent when
// the process list cannot be read: the snapshot has said so.
void ReportMappedHits(System& system, HitReporter& reporter,
                      const std::vector<HandleTarget>& targets, bool withPath) {
    std::vector<MappedFileRecord> mapped;
    if (!system.TakeMappedFileSnapshot(targets, reporter.ReportedForAll(targets), mapped) ||
        mapped.empty())
        return;
    const auto names = system.TakeProcessSnapshot();
    for (const MappedFileRecord& record : mapped) {
        for (const HandleTarget& target : targets) {
            if (system.HandleMatches(record.name, target.deviceForm, target.fullPath)) {
                reporter.Report(*names, record.processId, target.fullPath, Pass::Mapped, withPath);
            }
        }
    }
}

}  // namespace

bool QueryPath(System& system, ResultList& results, Messages& messages, const std::string& path,
               const std::string& notUsedFormat, const HitObserver& onHit) {
    HitReporter reporter(results, onHit);

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
                reporter.Report(*names, module.processId, fullPath, Pass::Module, false);
            }
        }
    }

    std::string deviceForm;  // for the handle pass and the mapped pass
    {
        // The full path, not the path as given: a relative path must reach the handle pass.
        // The translation comes before the handle snapshot, which is the costly part.
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
        handles->VisitNames([&](ProcessId processId, bool named, const std::string& name) {
            if (named && system.HandleMatches(name, deviceForm, fullPath)) {
                reporter.Report(*names, processId, fullPath, Pass::Handle, false);
            }
            return true;
        });
    }

    ReportMappedHits(system, reporter, {{deviceForm, fullPath}}, false);

    // Counts every line, not only this query's: callers start each query from an empty list.
    if (results.Count() == 0) {
        results.Add(FormatNotUsedLine(notUsedFormat, system.FileNamePart(path)));
    }
    return false;
}

namespace {

// How the list query ended. Its callers see only "stopped early" (true) or not; a full path
// that cannot be formed ends it too, but counts as not stopped, as it always has.
enum class ListQueryEnd { Completed, Stopped, NoFullPath };

ListQueryEnd RunListQuery(System& system, ResultList& results,
                          const std::vector<std::string>& paths, const HitObserver& onHit) {
    HitReporter reporter(results, onHit);

    {
        std::vector<ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules) || modules.empty()) return ListQueryEnd::Stopped;
        const auto names = system.TakeProcessSnapshot();
        // Each element's full path is formed once per query rather than once per module: the
        // first failure still ends the query at the first module, as it would uncached.
        std::vector<std::optional<std::string>> fullPaths(paths.size());
        for (const ModuleRecord& module : modules) {
            for (std::size_t i = 0; i < paths.size(); ++i) {
                if (!fullPaths[i]) {
                    std::string fullPath;
                    if (!system.GetFullPath(paths[i], fullPath)) return ListQueryEnd::NoFullPath;
                    fullPaths[i] = std::move(fullPath);
                }
                if (system.ModuleMatches(module.path, *fullPaths[i])) {
                    reporter.Report(*names, module.processId, *fullPaths[i], Pass::Module, true);
                }
            }
        }
    }

    const auto handles = system.TakeFileHandleSnapshot();
    if (handles->Count() == 0) return ListQueryEnd::Stopped;
    const auto names = system.TakeProcessSnapshot();
    // Each element is translated once, as the list holds it, before the visit: then only
    // handles that may name an element need naming. Translation stops at the first element
    // that cannot be translated; the visit then stops at that element of the first handle, as
    // it always has, and since it goes no further nothing is limited.
    std::vector<std::string> deviceForms;
    std::vector<HandleTarget> targets;
    for (const std::string& path : paths) {
        std::string deviceForm;
        if (!system.GetDeviceFileName(path, deviceForm)) break;
        deviceForms.push_back(deviceForm);
        targets.push_back({std::move(deviceForm), path});
    }
    if (targets.size() == paths.size()) handles->LimitNamesTo(targets);
    bool stopped = false;
    handles->VisitNames([&](ProcessId processId, bool named, const std::string& name) {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (i == deviceForms.size()) {
                stopped = true;
                return false;
            }
            if (named && system.HandleMatches(name, deviceForms[i], paths[i])) {
                reporter.Report(*names, processId, paths[i], Pass::Handle, true);
            }
        }
        return true;
    });
    if (stopped) return ListQueryEnd::Stopped;

    ReportMappedHits(system, reporter, targets, true);
    return ListQueryEnd::Completed;
}

}  // namespace

bool QueryPaths(System& system, ResultList& results, const std::vector<std::string>& paths,
                const HitObserver& onHit) {
    return RunListQuery(system, results, paths, onHit) == ListQueryEnd::Stopped;
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
                  const HitObserver& onHit, bool* queryStopped) {
    if (queryStopped) *queryStopped = false;
    std::vector<std::string> paths;
    if (!CollectFolderPaths(system, folder, paths)) return false;
    const ListQueryEnd end = RunListQuery(system, results, paths, onHit);
    if (queryStopped) *queryStopped = end != ListQueryEnd::Completed;
    return true;
}

}  // namespace vesperlin

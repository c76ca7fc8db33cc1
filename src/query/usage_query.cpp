#include "query/usage_query.h"

#include "query/match_passes.h"
#include "query/result_line.h"

namespace vesperlin::query {

using namespace passes;

bool QueryPath(sysinfo::System& system, ResultList& results, sysinfo::Messages& messages,
               const std::string& path, const std::string& notUsedFormat,
               const HitObserver& onHit) {
    passes::PassReporter reporter(system);
    reporter.AddAnswer(results, onHit);

    std::vector<passes::PassTarget> targets(1);
    passes::PassTarget& target = targets[0];
    if (!system.GetFullPath(path, target.forms.fullPath)) {
        messages.Show(kNoFullPath);
        return true;
    }
    target.shown = target.forms.fullPath;

    {
        std::vector<sysinfo::ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules)) {
            messages.Show(kNoModuleRefresh);
            return true;
        }
        if (modules.empty()) {
            messages.Show(kNoModuleHead);
            return true;
        }
        passes::MatchModules(system, reporter, modules, targets);
    }

    // The full path, not the path as given: a relative path must reach the handle pass.
    // The translation comes before the handle snapshot, which is the costly part.
    {
        if (!system.GetDeviceFileName(target.forms.fullPath, target.forms.deviceForm)) {
            messages.Show(kNoDeviceName);
            return true;
        }
        const auto handles = system.TakeFileHandleSnapshot();
        if (handles->Count() == 0) {
            messages.Show(kNoHandleHead);
            return true;
        }
        passes::MatchHandles(system, reporter, *handles, targets);
    }

    passes::MatchMapped(system, reporter, targets);

    // Counts every line, not only this query's: callers start each query from an empty list.
    if (results.Count() == 0) {
        results.Add(FormatNotUsedLine(notUsedFormat, system.FileNamePart(path)));
    }
    return false;
}

bool QueryPaths(sysinfo::System& system, ResultList& results, const std::vector<std::string>& paths,
                const HitObserver& onHit, const SkipObserver& onSkip) {
    passes::PassReporter reporter(system);
    reporter.AddAnswer(results, onHit);
    // Formed before either pass: an element that cannot be formed is left out of both, and
    // the handle pass names only handles that may be one of the others.
    const std::vector<passes::PassTarget> targets = FormListTargets(system, paths, 0, 0, onSkip);
    if (targets.empty()) return false;

    {
        std::vector<sysinfo::ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules) || modules.empty()) return true;
        passes::MatchModules(system, reporter, modules, targets);
    }

    const auto handles = system.TakeFileHandleSnapshot();
    if (handles->Count() == 0) return true;
    passes::MatchHandles(system, reporter, *handles, targets);
    passes::MatchMapped(system, reporter, targets);
    return false;
}

bool CollectFolderPaths(sysinfo::System& system, const std::string& folder,
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

bool ExpandFolder(sysinfo::System& system, ResultList& results, const std::string& folder,
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

}  // namespace vesperlin::query

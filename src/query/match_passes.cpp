#include "query/match_passes.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

#include "query/result_line.h"

namespace vesperlin::query::passes {

namespace {

bool AnyWiderScope(const std::vector<PassTarget>& targets) {
    return std::any_of(targets.begin(), targets.end(), [](const PassTarget& target) {
        return target.forms.scope != sysinfo::Scope::Exact;
    });
}

std::vector<sysinfo::HandleTarget> FormsOf(const std::vector<PassTarget>& targets) {
    std::vector<sysinfo::HandleTarget> forms;
    forms.reserve(targets.size());
    for (const PassTarget& target : targets) forms.push_back(target.forms);
    return forms;
}

}  // namespace

std::vector<PassTarget> FormListTargets(sysinfo::System& system,
                                        const std::vector<std::string>& paths, std::size_t answer,
                                        std::size_t firstId, const SkipObserver& onSkip) {
    std::vector<PassTarget> targets;
    targets.reserve(paths.size());
    for (const std::string& path : paths) {
        PassTarget target;
        target.shown = path;
        target.answer = answer;
        target.withPath = true;
        target.id = firstId + targets.size();
        if (!system.GetFullPath(path, target.forms.fullPath) ||
            !system.GetDeviceFileName(path, target.forms.deviceForm)) {
            if (onSkip) onSkip(path, system.DescribePathFailure(path));
            continue;
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

std::size_t PassReporter::AddAnswer(ResultList& results, const HitObserver& onHit) {
    answers.push_back({&results, &onHit});
    return answers.size() - 1;
}

void PassReporter::Report(const PassTarget& target, const sysinfo::ProcessNames& names,
                          sysinfo::ProcessId processId, const std::string& path, Pass pass,
                          const sysinfo::FileUse& use) {
    if (processId == self) return;
    const Answer& answer = answers.at(target.answer);
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
        if (target.withPath) text += " (" + path + ")";
    }
    AddResultLine(*answer.results, processId, text);
    if (*answer.onHit) (*answer.onHit)(hit);
    reportedTargets[processId].insert(target.id);
}

std::vector<sysinfo::ProcessId> PassReporter::ReportedForAll(
    const std::vector<PassTarget>& targets) const {
    std::vector<sysinfo::ProcessId> all{self};
    if (AnyWiderScope(targets)) return all;
    for (const auto& [processId, reported] : reportedTargets) {
        // Fewer targets than asked for cannot cover them all (a folder's thousands of entries).
        if (reported.size() < targets.size()) continue;
        const std::set<std::size_t>& seen = reported;  // a binding clang 14 lets lambdas use
        if (std::all_of(targets.begin(), targets.end(),
                        [&](const PassTarget& target) { return seen.count(target.id) != 0; }))
            all.push_back(processId);
    }
    return all;
}

namespace {

// Which targets a name may match, found without comparing it with every target: a query of a
// folder brings thousands of them. Exact targets whose matching names the system can list are
// looked up by name; the others are asked one by one, in target order.
class TargetIndex {
  public:
    TargetIndex(sysinfo::System& system, const std::vector<PassTarget>& targets) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            names.clear();
            if (targets[i].forms.scope == sysinfo::Scope::Exact &&
                system.ExactHandleNames(targets[i].forms.deviceForm, names)) {
                for (const std::string& name : names) byName[name].push_back(i);
            } else {
                asked.push_back(i);
            }
        }
    }

    // The targets `name` may match, ascending: those it equals a name of, and every asked one.
    const std::vector<std::size_t>& Candidates(const std::string& name) {
        const auto found = byName.find(name);
        if (found == byName.end()) return asked;
        candidates.clear();
        std::merge(found->second.begin(), found->second.end(), asked.begin(), asked.end(),
                   std::back_inserter(candidates));
        return candidates;
    }

  private:
    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    std::vector<std::size_t> asked;
    std::vector<std::size_t> candidates;
};

// Reports a named row (a handle, or a mapped view) for every target it lies in.
void ReportNamedRow(sysinfo::System& system, PassReporter& reporter,
                    const sysinfo::ProcessNames& names, const std::vector<PassTarget>& targets,
                    TargetIndex& index, sysinfo::ProcessId processId, const std::string& name,
                    const sysinfo::FileUse& use, Pass pass, std::string& shown) {
    for (const std::size_t i : index.Candidates(name)) {
        const PassTarget& target = targets[i];
        if (target.forms.scope == sysinfo::Scope::Exact) {
            if (system.HandleMatches(name, target.forms.deviceForm, target.forms.fullPath))
                reporter.Report(target, names, processId, target.shown, pass, use);
        } else if (system.HandleInScope(processId, name, use, target.forms, shown)) {
            reporter.Report(target, names, processId, shown, pass, use);
        }
    }
}

}  // namespace

void MatchModules(sysinfo::System& system, PassReporter& reporter,
                  const std::vector<sysinfo::ModuleRecord>& modules,
                  const std::vector<PassTarget>& targets) {
    const auto names = system.TakeProcessSnapshot();
    std::vector<std::size_t> scoped;
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (targets[i].forms.scope != sysinfo::Scope::Exact) scoped.push_back(i);
    // The same libraries appear in nearly every process: each distinct module path is compared
    // with the exact targets once, which matters when a folder brings thousands of them.
    std::unordered_map<std::string, std::vector<std::size_t>> exactMatches;
    std::vector<std::size_t> candidates;
    for (const sysinfo::ModuleRecord& module : modules) {
        auto [known, inserted] = exactMatches.try_emplace(module.path);
        if (inserted) {
            for (std::size_t i = 0; i < targets.size(); ++i)
                if (targets[i].forms.scope == sysinfo::Scope::Exact &&
                    system.ModuleMatches(module.path, targets[i].forms.fullPath))
                    known->second.push_back(i);
        }
        // Reported in target order, as comparing target by target would.
        candidates.clear();
        std::merge(known->second.begin(), known->second.end(), scoped.begin(), scoped.end(),
                   std::back_inserter(candidates));
        for (const std::size_t i : candidates) {
            const PassTarget& target = targets[i];
            if (target.forms.scope == sysinfo::Scope::Exact) {
                reporter.Report(target, *names, module.processId, target.forms.fullPath,
                                Pass::Module, module.use);
            } else if (system.ModuleInScope(module.path, target.forms)) {
                reporter.Report(target, *names, module.processId, module.path, Pass::Module,
                                module.use);
            }
        }
    }
}

void MatchHandles(sysinfo::System& system, PassReporter& reporter,
                  sysinfo::FileHandleSnapshot& handles, const std::vector<PassTarget>& targets) {
    // Wider scopes too: the snapshot knows which of its rows may lie in one.
    handles.LimitNamesTo(FormsOf(targets));
    // Handle hits are named from a snapshot of their own: processes may have come and gone
    // while the module pass ran.
    const auto names = system.TakeProcessSnapshot();
    TargetIndex index(system, targets);
    std::string shown;
    handles.VisitUses([&](sysinfo::ProcessId processId, bool named, const std::string& name,
                          const sysinfo::FileUse& use) {
        if (named)
            ReportNamedRow(system, reporter, *names, targets, index, processId, name, use,
                           Pass::Handle, shown);
        return true;
    });
}

void MatchMapped(sysinfo::System& system, PassReporter& reporter,
                 const std::vector<PassTarget>& targets) {
    std::vector<sysinfo::MappedFileRecord> mapped;
    if (!system.TakeMappedFileSnapshot(FormsOf(targets), reporter.ReportedForAll(targets),
                                       mapped) ||
        mapped.empty())
        return;
    const auto names = system.TakeProcessSnapshot();
    const sysinfo::FileUse use = sysinfo::UseOf(sysinfo::UseKind::Mapping);
    TargetIndex index(system, targets);
    std::string shown;
    for (const sysinfo::MappedFileRecord& record : mapped)
        ReportNamedRow(system, reporter, *names, targets, index, record.processId, record.name, use,
                       Pass::Mapped, shown);
}

}  // namespace vesperlin::query::passes

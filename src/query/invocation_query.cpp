#include "query/invocation_query.h"

#include <memory>
#include <unordered_set>

#include "query/match_passes.h"
#include "query/result_line.h"

namespace vesperlin::query {

namespace {

using passes::PassTarget;

// A result list that answers the duplicate test at once: a folder of thousands of entries
// gives thousands of lines.
class IndexedResultList : public ResultList {
  public:
    std::size_t Count() const override { return lines.size(); }
    std::string Line(std::size_t index) const override { return lines.at(index); }
    void Add(const std::string& line) override {
        lines.push_back(line);
        known.insert(line);
    }
    bool Contains(const std::string& line) const override { return known.count(line) != 0; }
    std::vector<std::string> lines;

  private:
    std::unordered_set<std::string> known;
};

// Keeps each distinct hit once, in order: the same file through two identical rows is one hit.
class HitCollector {
  public:
    explicit HitCollector(std::vector<Hit>& hits) : hits(hits) {}
    void Add(const Hit& hit) {
        std::string key =
            std::to_string(hit.processId) + '\n' + hit.path + '\n' +
            std::to_string(static_cast<int>(hit.use.kind)) + ' ' + std::to_string(hit.use.number) +
            ' ' + std::to_string(hit.use.access) + ' ' + std::to_string(hit.use.accessKnown) + ' ' +
            std::to_string(hit.use.mappings) + ' ' + std::to_string(hit.asModule) +
            std::to_string(hit.asMapped) + std::to_string(hit.processFound) + '\n' + hit.imageName;
        if (seen.insert(std::move(key)).second) hits.push_back(hit);
    }

  private:
    std::vector<Hit>& hits;
    std::unordered_set<std::string> seen;
};

// What one request needs while the passes run.
struct Pending {
    IndexedResultList results;
    std::unique_ptr<HitCollector> collector;
    HitObserver onHit;
    bool singleFile = false;  // answered as QueryPath would: its messages, its not-used line
    bool queried = false;     // has targets in the passes
};

// Marks every request that takes part in the passes as stopped; single files get `message`.
void StopAll(std::vector<QueryAnswer>& answers, std::vector<Pending>& pending,
             const char* message) {
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (!pending[i].queried) continue;
        answers[i].status = QueryStatus::Stopped;
        if (pending[i].singleFile) answers[i].messages.push_back(message);
    }
}

}  // namespace

std::vector<QueryAnswer> QueryInvocation(sysinfo::System& system,
                                         const std::vector<QueryRequest>& requests,
                                         const std::string& notUsedFormat) {
    std::vector<QueryAnswer> answers(requests.size());
    std::vector<Pending> pending(requests.size());
    passes::PassReporter reporter(system);
    // Every target is compared with the modules; only those with a device (or scope) form
    // reach the handle and mapped passes, as QueryPath stops before its handle pass.
    std::vector<PassTarget> moduleTargets, handleTargets;

    for (std::size_t i = 0; i < requests.size(); ++i) {
        QueryAnswer& answer = answers[i];
        Pending& state = pending[i];
        answer.path = requests[i].path;
        answer.scope = requests[i].scope;
        state.collector = std::make_unique<HitCollector>(answer.hits);
        HitCollector* collector = state.collector.get();
        state.onHit = [collector](const Hit& hit) { collector->Add(hit); };
        reporter.AddAnswer(state.results, state.onHit);

        if (answer.path.empty()) {
            answer.status = QueryStatus::Unreadable;
            answer.reason = "empty path";
            continue;
        }
        answer.kind = system.Classify(answer.path);
        if (answer.kind == sysinfo::PathKind::Unreadable) {
            answer.status = QueryStatus::Unreadable;
            answer.reason = system.DescribePathFailure(answer.path);
            continue;
        }
        // Under asks about what lies in a folder; a file holds nothing but itself.
        if (answer.scope == sysinfo::Scope::Under && answer.kind != sysinfo::PathKind::Folder)
            answer.scope = sysinfo::Scope::Exact;

        if (answer.scope == sysinfo::Scope::Exact && answer.kind == sysinfo::PathKind::Folder) {
            std::vector<std::string> paths;
            if (!CollectFolderPaths(system, answer.path, paths)) {
                answer.status = QueryStatus::Unlisted;
                answer.reason = "its entries cannot be listed";
                continue;
            }
            const std::string folder = paths.back();
            const SkipObserver noteSkip = [&](const std::string& path, const std::string& why) {
                // The folder itself left out: its own answer is what is missing.
                if (path == folder) answer.status = QueryStatus::Stopped;
                answer.skipped.push_back({path, why});
            };
            std::vector<PassTarget> formed =
                passes::FormListTargets(system, paths, i, moduleTargets.size(), noteSkip);
            state.queried = true;
            for (PassTarget& target : formed) {
                // Ids number the module targets; every list target reaches the handle pass.
                moduleTargets.push_back(target);
                handleTargets.push_back(std::move(target));
            }
            continue;
        }

        PassTarget target;
        target.answer = i;
        target.id = moduleTargets.size();
        target.forms.scope = answer.scope;
        if (!system.GetFullPath(answer.path, target.forms.fullPath)) {
            answer.status = QueryStatus::Stopped;
            if (answer.scope == sysinfo::Scope::Exact) {
                answer.messages.push_back(passes::kNoFullPath);
            } else {
                answer.reason = system.DescribePathFailure(answer.path);
            }
            continue;
        }
        target.shown = target.forms.fullPath;
        state.queried = true;
        if (answer.scope == sysinfo::Scope::Exact) {
            state.singleFile = true;
            moduleTargets.push_back(target);
            // As in QueryPath: the full path, so that a relative path reaches the handle pass.
            if (!system.GetDeviceFileName(target.forms.fullPath, target.forms.deviceForm)) {
                answer.status = QueryStatus::Stopped;
                answer.messages.push_back(passes::kNoDeviceName);
                continue;
            }
            handleTargets.push_back(std::move(target));
            continue;
        }
        target.withPath = true;
        if (!system.GetScopeForm(target.forms.fullPath, answer.scope, target.forms.deviceForm)) {
            answer.status = QueryStatus::Stopped;
            answer.reason = answer.scope == sysinfo::Scope::Volume
                                ? "the file system that holds it cannot be told"
                                : "no name form can be made for it";
            state.queried = false;
            continue;
        }
        moduleTargets.push_back(target);
        handleTargets.push_back(std::move(target));
    }

    if (!moduleTargets.empty()) {
        std::vector<sysinfo::ModuleRecord> modules;
        if (!system.TakeModuleSnapshot(modules)) {
            StopAll(answers, pending, passes::kNoModuleRefresh);
            return answers;
        }
        if (modules.empty()) {
            StopAll(answers, pending, passes::kNoModuleHead);
            return answers;
        }
        passes::MatchModules(system, reporter, modules, moduleTargets);
    }
    if (!handleTargets.empty()) {
        const auto handles = system.TakeFileHandleSnapshot();
        if (handles->Count() == 0) {
            // Only the requests still waiting for their handle pass.
            std::vector<bool> waiting(requests.size(), false);
            for (const PassTarget& target : handleTargets) waiting[target.answer] = true;
            for (std::size_t i = 0; i < answers.size(); ++i) {
                if (!waiting[i]) continue;
                answers[i].status = QueryStatus::Stopped;
                if (pending[i].singleFile) answers[i].messages.push_back(passes::kNoHandleHead);
            }
        } else {
            passes::MatchHandles(system, reporter, *handles, handleTargets);
            passes::MatchMapped(system, reporter, handleTargets);
        }
    }

    for (std::size_t i = 0; i < answers.size(); ++i) {
        QueryAnswer& answer = answers[i];
        answer.lines = std::move(pending[i].results.lines);
        if (!pending[i].queried) continue;
        answer.notUsedLine = FormatNotUsedLine(notUsedFormat, system.FileNamePart(answer.path));
        if (answer.status == QueryStatus::Done && answer.lines.empty())
            answer.lines.push_back(answer.notUsedLine);
    }
    return answers;
}

}  // namespace vesperlin::query

#pragma once
// The three passes every query runs, over any number of targets at once: the module pass, the
// handle pass and the mapped pass. The single-path and list queries of the desktop program and
// the console program's whole invocation are built from them. Internal to the query layer.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "query/result_list.h"
#include "query/usage_query.h"
#include "sysinfo/system.h"

namespace vesperlin::query::passes {

enum class Pass { Module, Handle, Mapped };

// The single-path query's messages: the program's historic texts, odd spelling included.
inline constexpr const char* kNoFullPath = "Cant't get full path name.";
inline constexpr const char* kNoModuleRefresh = "Can't refresh module information.";
inline constexpr const char* kNoModuleHead = "Can't get head of module information.";
inline constexpr const char* kNoDeviceName = "Can't get device filename.";
inline constexpr const char* kNoHandleHead = "Can't handle info head position.";

// One thing the passes look for and where its hits go.
struct PassTarget {
    sysinfo::HandleTarget forms;  // device form (or scope form), full path, scope
    std::string shown;            // the path handle and mapped hits of an exact target show
    std::size_t answer = 0;       // the answer its hits go to (PassReporter::AddAnswer)
    std::size_t id = 0;           // tells it from the other targets of the query
    bool withPath = false;        // lines read "image (path)"; otherwise only the image name
};

// Reports hits into their answers: the line (with the duplicate test) and the observer. Hits of
// the querying process itself are dropped: its handles and mappings are artifacts of the
// asking.
class PassReporter {
  public:
    explicit PassReporter(sysinfo::System& system) : self(system.OwnProcessId()) {}

    // The result list and observer of one more answer; both must outlive the reporter.
    std::size_t AddAnswer(ResultList& results, const HitObserver& onHit);

    void Report(const PassTarget& target, const sysinfo::ProcessNames& names,
                sysinfo::ProcessId processId, const std::string& path, Pass pass,
                const sysinfo::FileUse& use);

    // The processes reported for every one of the targets already, and the querying process,
    // whose hits are never reported: neither needs its address space walked. Only the
    // querying process when a target has a wider scope: there every mapped file may be
    // another hit.
    std::vector<sysinfo::ProcessId> ReportedForAll(const std::vector<PassTarget>& targets) const;

  private:
    struct Answer {
        ResultList* results;
        const HitObserver* onHit;
    };
    std::vector<Answer> answers;
    sysinfo::ProcessId self;
    std::map<sysinfo::ProcessId, std::set<std::size_t>> reportedTargets;
};

// The targets of a list query's elements whose full path and device form can be formed, in
// list order, numbered from `firstId` on, shown as the list holds them ("image (path)"); the device
// form is that of the element as the list holds it. The others are told to `onSkip`.
std::vector<PassTarget> FormListTargets(sysinfo::System& system,
                                        const std::vector<std::string>& paths, std::size_t answer,
                                        std::size_t firstId, const SkipObserver& onSkip);

// Compares every module with every target, modules in snapshot order, targets in order.
void MatchModules(sysinfo::System& system, PassReporter& reporter,
                  const std::vector<sysinfo::ModuleRecord>& modules,
                  const std::vector<PassTarget>& targets);

// Names the snapshot's rows (only those that may be a target, where the snapshot can tell) and
// compares each with every target, in table order.
void MatchHandles(sysinfo::System& system, PassReporter& reporter,
                  sysinfo::FileHandleSnapshot& handles, const std::vector<PassTarget>& targets);

// The mapped pass, after the handle pass: a file mapped as data stays in use after its handles
// are closed, with nothing in the other passes to show for it. A process already reported for
// every target is not walked: its lines are there, and walking address spaces is the costly
// part. Silent when the process list cannot be read: the snapshot has said so.
void MatchMapped(sysinfo::System& system, PassReporter& reporter,
                 const std::vector<PassTarget>& targets);

}  // namespace vesperlin::query::passes

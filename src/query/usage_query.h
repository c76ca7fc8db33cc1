#pragma once
// The usage query: which processes have a file loaded as a module, open through a "File"
// handle or mapped as data. Hits become result lines; failures of the single-path query become
// messages.

#include <functional>
#include <string>
#include <vector>

#include "query/result_list.h"
#include "sysinfo/messages.h"
#include "sysinfo/system.h"

namespace vesperlin::query {

// One hit, for callers that want more than the line (the console's JSON output).
struct Hit {
    sysinfo::ProcessId processId = 0;
    std::string imageName;  // empty when the process was not found
    std::string path;       // the path that matched: the full path, or the list element
    bool asModule = false;  // found in the module pass; false: through a "File" handle...
    bool asMapped = false;  // ...or mapped as data into the process (the mapped pass)
    bool processFound = false;
    sysinfo::FileUse use;  // how the process uses the file
};

// Called for every hit, in line order, whether or not its line was new: a process found as a
// module and through a handle gives one line but two hits. Module hits come first, then handle
// hits, then mapped ones. The querying process itself is never a hit.
using HitObserver = std::function<void(const Hit& hit)>;

// Called for every element of a list query that is left out because its full path or device
// form cannot be formed (a dangling link, an entry removed meanwhile), with the system's
// reason.
using SkipObserver = std::function<void(const std::string& path, const std::string& reason)>;

// The built-in text of string resource 102.
inline constexpr const char* kNotUsedFormat = "%s is not used.";

// One path. True when it stopped early at a failure, after showing its message; lines
// added before the stop stay. When the list is still empty at the end, adds the line made
// from `notUsedFormat` (only its "%s" is substituted) and the path's file name part.
bool QueryPath(sysinfo::System& system, ResultList& results, sysinfo::Messages& messages,
               const std::string& path, const std::string& notUsedFormat = kNotUsedFormat,
               const HitObserver& onHit = {});

// An ordered list of paths, shown as "image (path)". Shows no message. An element whose full
// path or device form cannot be formed is left out (and told to `onSkip`); the others are
// queried. True when it stopped early because the module list could not be read or was
// empty, or the handle list was empty; false when it ran to the end.
bool QueryPaths(sysinfo::System& system, ResultList& results, const std::vector<std::string>& paths,
                const HitObserver& onHit = {}, const SkipObserver& onSkip = {});

// The folder's direct entries ("." and ".." left out) in the platform's listing order, each
// joined to the folder's full path, then the full path itself. False when the full path
// cannot be formed or the listing fails or breaks off; `paths` is then empty.
bool CollectFolderPaths(sysinfo::System& system, const std::string& folder,
                        std::vector<std::string>& paths);

// CollectFolderPaths, then QueryPaths on the result. True when the folder was listed to the
// end and queried; false when nothing was queried. `queryStopped`, when given, receives
// what QueryPaths answered, and true as well when the folder itself had to be left out (its
// entries may have been answered, the folder was not); false when nothing was queried.
bool ExpandFolder(sysinfo::System& system, ResultList& results, const std::string& folder,
                  const HitObserver& onHit = {}, bool* queryStopped = nullptr,
                  const SkipObserver& onSkip = {});

}  // namespace vesperlin::query

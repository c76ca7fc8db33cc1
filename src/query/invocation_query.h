#pragma once
// Every path of one console invocation answered from one module pass, one handle pass and one
// mapped pass: scanning the system is the costly part, and it is the same for every path. Each
// path still gets its own answer, as if it had been asked alone.

#include <string>
#include <vector>

#include "query/usage_query.h"
#include "sysinfo/system.h"

namespace vesperlin::query {

struct QueryRequest {
    std::string path;  // as the user gave it
    // Exact: a file as QueryPath asks, a folder as ExpandFolder does (its direct entries and
    // itself). Under: anything under a folder at any depth. Volume: anything on the file
    // system that holds the path.
    sysinfo::Scope scope = sysinfo::Scope::Exact;
};

enum class QueryStatus {
    Done,        // every pass ran to the end
    Stopped,     // a pass could not run, or the path could not be formed: maybe incomplete
    Unreadable,  // the path names nothing that can be asked about
    Unlisted,    // a folder whose entries cannot be listed
};

struct SkippedEntry {
    std::string path;
    std::string reason;
};

struct QueryAnswer {
    std::string path;  // as given
    sysinfo::PathKind kind = sysinfo::PathKind::Unreadable;
    sysinfo::Scope scope = sysinfo::Scope::Exact;
    QueryStatus status = QueryStatus::Done;
    std::string reason;                 // Unreadable, Unlisted, a scope that cannot be formed
    std::vector<std::string> messages;  // the single-path query's own messages, in order
    std::vector<std::string> lines;     // the result lines as the desktop program forms them
    std::string notUsedLine;            // "NAME is not used.", for a path that was queried
    std::vector<Hit> hits;              // distinct hits, in line order
    std::vector<SkippedEntry> skipped;  // folder entries that had to be left out
};

// Answers every request in order. A file, or a folder asked about with a wider scope, that
// nothing uses gets the not-used line of `notUsedFormat`; so does a folder whose entries
// nothing uses.
std::vector<QueryAnswer> QueryInvocation(sysinfo::System& system,
                                         const std::vector<QueryRequest>& requests,
                                         const std::string& notUsedFormat = kNotUsedFormat);

}  // namespace vesperlin::query

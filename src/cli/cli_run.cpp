#include "cli/cli_run.h"

#include "cli/cli_options.h"
#include "cli/json_text.h"
#include "query/result_list.h"
#include "query/usage_query.h"

namespace vesperlin {

namespace {

constexpr const char* kProgram = "vesperlin-cli";

enum class Outcome { Done, Stopped, Unreadable, Unlisted };

struct PathReport {
    std::string path;
    PathKind kind = PathKind::Unreadable;
    Outcome outcome = Outcome::Done;
    std::vector<std::string> lines;
    std::vector<Hit> hits;  // distinct hits, in order
};

bool SameHit(const Hit& a, const Hit& b) {
    return a.processId == b.processId && a.asModule == b.asModule && a.asMapped == b.asMapped &&
           a.path == b.path && a.imageName == b.imageName && a.processFound == b.processFound &&
           a.use == b.use;
}

// One path, handled as a drop onto the desktop program would be, with a list of its own.
PathReport QueryOne(System& system, Messages& messages, const std::string& path,
                    std::ostream& err) {
    PathReport report;
    report.path = path;
    report.kind = system.Classify(path);
    VectorResultList results;
    const HitObserver collect = [&](const Hit& hit) {
        for (const Hit& seen : report.hits) {
            if (SameHit(seen, hit)) return;
        }
        report.hits.push_back(hit);
    };
    switch (report.kind) {
        case PathKind::Unreadable:
            // The desktop program would try to list it as a folder and show nothing; here the
            // user gets told.
            err << kProgram << ": cannot read " << path
                << ": no such file or folder, or no access\n";
            report.outcome = Outcome::Unreadable;
            break;
        case PathKind::Folder: {
            bool stopped = false;
            // An entry that cannot be asked about (a dangling link, one removed meanwhile) is
            // left out; the user hears of it, and the others are still answered.
            const SkipObserver noteSkip = [&](const std::string& entry, const std::string& why) {
                err << kProgram << ": " << entry << ": " << why << "; left out\n";
            };
            if (!ExpandFolder(system, results, path, collect, &stopped, noteSkip)) {
                err << kProgram << ": cannot list the folder " << path << "\n";
                report.outcome = Outcome::Unlisted;
            } else if (stopped) {
                err << kProgram << ": the query of " << path
                    << " stopped early; its result may be incomplete\n";
                report.outcome = Outcome::Stopped;
            }
            break;
        }
        case PathKind::File:
            if (QueryPath(system, results, messages, path, kNotUsedFormat, collect)) {
                report.outcome = Outcome::Stopped;
            }
            break;
    }
    report.lines = results.Lines();
    return report;
}

const char* KindName(PathKind kind) {
    switch (kind) {
        case PathKind::File:
            return "file";
        case PathKind::Folder:
            return "folder";
        case PathKind::Unreadable:
            break;
    }
    return "unreadable";
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return "done";
        case Outcome::Stopped:
            return "stopped";
        case Outcome::Unreadable:
            return "unreadable";
        case Outcome::Unlisted:
            return "unlisted";
    }
    return "done";
}

const char* FoundAsName(const Hit& hit) {
    if (hit.asModule) return "module";
    return hit.asMapped ? "mapped" : "handle";
}

// The fields that say how the process uses the file, after the hit's others.
void WriteUse(std::ostream& out, const FileUse& use) {
    out << ", \"use\": \"" << UseKindName(use.kind) << "\"";
    if (use.kind == UseKind::Descriptor) out << ", \"descriptor\": " << use.number;
    if (use.kind == UseKind::Handle) out << ", \"handle\": " << use.number;
    if (use.kind == UseKind::Descriptor || use.kind == UseKind::Handle) {
        out << ", \"access\": ";
        if (!use.accessKnown) {
            out << "null";
        } else {
            const std::vector<std::string> names = AccessNames(use.access);
            out << "[";
            for (std::size_t i = 0; i < names.size(); ++i)
                out << (i ? ", " : "") << JsonString(names[i]);
            out << "]";
        }
    }
    if (use.kind == UseKind::Executable || use.kind == UseKind::Mapping) {
        const std::vector<std::string> texts = MappingPermissionTexts(use.mappings);
        out << ", \"mappings\": [";
        for (std::size_t i = 0; i < texts.size(); ++i)
            out << (i ? ", " : "") << JsonString(texts[i]);
        out << "]";
    }
}

void WriteJson(std::ostream& out, const std::vector<PathReport>& reports,
               std::size_t inaccessible) {
    out << "{\n  \"queries\": [";
    for (std::size_t r = 0; r < reports.size(); ++r) {
        const PathReport& report = reports[r];
        out << (r ? ",\n" : "\n") << "    {\n";
        out << "      \"query\": " << JsonString(report.path) << ",\n";
        out << "      \"kind\": \"" << KindName(report.kind) << "\",\n";
        out << "      \"status\": \"" << OutcomeName(report.outcome) << "\",\n";
        out << "      \"used\": " << (report.hits.empty() ? "false" : "true") << ",\n";
        out << "      \"hits\": [";
        for (std::size_t h = 0; h < report.hits.size(); ++h) {
            const Hit& hit = report.hits[h];
            out << (h ? ",\n" : "\n") << "        {\"processId\": " << hit.processId
                << ", \"imageName\": " << JsonString(hit.imageName)
                << ", \"processFound\": " << (hit.processFound ? "true" : "false")
                << ", \"path\": " << JsonString(hit.path) << ", \"foundAs\": \"" << FoundAsName(hit)
                << "\"";
            WriteUse(out, hit.use);
            out << "}";
        }
        out << (report.hits.empty() ? "],\n" : "\n      ],\n");
        out << "      \"lines\": [";
        for (std::size_t l = 0; l < report.lines.size(); ++l) {
            out << (l ? ", " : "") << JsonString(report.lines[l]);
        }
        out << "]\n    }";
    }
    out << (reports.empty() ? "],\n" : "\n  ],\n");
    out << "  \"inaccessibleProcesses\": " << inaccessible << "\n}\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const SystemFactory& makeSystem,
           const CliPlatform& platform, std::ostream& out, std::ostream& err) {
    CliOptions options;
    std::string error;
    if (!ParseCliArguments(args, options, error)) {
        err << kProgram << ": " << error << "\n"
            << "Try '" << kProgram << " --help' for more information.\n";
        return kCliFailed;
    }
    if (options.help) {
        out << CliUsageText();
        return kCliUsed;
    }
    if (options.version) {
        out << kProgram << " " << platform.version << "\n";
        return kCliUsed;
    }

    StreamMessages messages(err);
    const std::unique_ptr<System> system = makeSystem(messages);
    if (!system) {
        err << kProgram << ": cannot inspect the system\n";
        return kCliFailed;
    }

    std::vector<PathReport> reports;
    bool used = false;
    bool failed = false;
    for (const std::string& path : options.paths) {
        PathReport report = QueryOne(*system, messages, path, err);
        used = used || !report.hits.empty();
        failed = failed || report.outcome != Outcome::Done;
        if (!options.json) {
            for (const std::string& line : report.lines) out << line << '\n';
            out.flush();
        }
        reports.push_back(std::move(report));
    }

    const std::size_t inaccessible = system->InaccessibleProcessCount();
    if (options.json) WriteJson(out, reports, inaccessible);
    out.flush();
    if (inaccessible > 0) {
        err << kProgram << ": " << inaccessible << (inaccessible == 1 ? " process" : " processes")
            << " could not be inspected";
        if (platform.runsPrivileged) {
            err << " (" << platform.privilegedLimits << ")\n";
        } else {
            err << "; " << platform.privilegedUser << " sees them all\n";
        }
    }

    if (failed) return kCliFailed;
    return used ? kCliUsed : kCliNotUsed;
}

}  // namespace vesperlin

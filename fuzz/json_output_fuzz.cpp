// vesperlin-cli's --json document for paths and process names of any bytes, over a scripted
// system. The document must parse as strict JSON and give back every string it was given: the
// same text where that was well-formed UTF-8, each other byte as U+FFFD.
//
// Input: a byte (path count 1..3, and the inaccessible count), then per path: its text (a
// length byte and the bytes), a byte whose low bits make it a file, folder or unreadable path,
// a holder count byte (0..2), and per holder its image name (a length byte and the bytes) and a
// byte saying whether it has the path loaded (bit 0) and open (bit 1).
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "cli/json_text.h"
#include "fakes/fake_system.h"
#include "fuzz_support.h"
#include "base/text.h"

using namespace vesperlin::base;
using namespace vesperlin::sysinfo;
using namespace vesperlin::cli;

using vesperlin::fuzz::FuzzInput;
using vesperlin::fuzz::WellFormedUtf8;
using vesperlin::testing::FakeSystem;

namespace {

// --- A strict JSON reader (RFC 8259): what any consumer of the document would accept ---

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    std::string text;               // a string's decoded text, or a number as written
    std::vector<Json> items;        // an array's values, or an object's
    std::vector<std::string> keys;  // an object's names, one per value

    const Json* Member(const std::string& name) const {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == name) return &items[i];
        return nullptr;
    }
};

class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text(text) {}

    // The one value the document holds, with nothing but blanks around it.
    bool Document(Json& value) {
        if (!Value(value, 0)) return false;
        Blanks();
        return at == text.size();
    }

  private:
    void Blanks() {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
    }
    bool Take(char c) {
        Blanks();
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    }
    bool Word(std::string_view word) {
        if (text.substr(at, word.size()) != word) return false;
        at += word.size();
        return true;
    }

    bool Value(Json& value, int depth) {
        if (depth > 16) return false;
        Blanks();
        if (at >= text.size()) return false;
        switch (text[at]) {
            case '{':
                return ObjectValue(value, depth);
            case '[':
                return ArrayValue(value, depth);
            case '"':
                value.kind = Json::String;
                return StringValue(value.text);
            case 't':
                value.kind = Json::Bool;
                value.boolean = true;
                return Word("true");
            case 'f':
                value.kind = Json::Bool;
                return Word("false");
            case 'n':
                return Word("null");
            default:
                return NumberValue(value);
        }
    }

    bool ObjectValue(Json& value, int depth) {
        value.kind = Json::Object;
        ++at;
        if (Take('}')) return true;
        do {
            Blanks();
            value.keys.emplace_back();
            if (at >= text.size() || text[at] != '"' || !StringValue(value.keys.back()))
                return false;
            value.items.emplace_back();
            if (!Take(':') || !Value(value.items.back(), depth + 1)) return false;
        } while (Take(','));
        return Take('}');
    }

    bool ArrayValue(Json& value, int depth) {
        value.kind = Json::Array;
        ++at;
        if (Take(']')) return true;
        do {
            value.items.emplace_back();
            if (!Value(value.items.back(), depth + 1)) return false;
        } while (Take(','));
        return Take(']');
    }

    bool NumberValue(Json& value) {
        value.kind = Json::Number;
        const std::size_t start = at;
        auto digits = [&] {
            const std::size_t from = at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
            return at > from;
        };
        if (at < text.size() && text[at] == '-') ++at;
        if (at < text.size() && text[at] == '0') {
            ++at;
        } else if (!digits()) {
            return false;
        }
        if (at < text.size() && text[at] == '.') {
            ++at;
            if (!digits()) return false;
        }
        if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
            ++at;
            if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
            if (!digits()) return false;
        }
        value.text = text.substr(start, at - start);
        return true;
    }

    bool Hex4(std::uint32_t& unit) {
        if (text.size() - at < 4) return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at++];
            unit <<= 4;
            if (c >= '0' && c <= '9') {
                unit |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                unit |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                unit |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    bool StringValue(std::string& out) {
        ++at;             // the opening quote
        std::string raw;  // unescaped bytes, which must be well-formed UTF-8 themselves
        auto flush = [&] {
            if (WellFormedUtf8(raw) != raw) return false;
            out += raw;
            raw.clear();
            return true;
        };
        while (at < text.size()) {
            const auto c = static_cast<unsigned char>(text[at++]);
            if (c == '"') return flush();
            if (c < 0x20) return false;  // control characters must be escaped
            if (c != '\\') {
                raw += static_cast<char>(c);
                continue;
            }
            if (!flush() || at >= text.size()) return false;
            const char escape = text[at++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += escape;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t unit = 0;
                    if (!Hex4(unit)) return false;
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                            return false;
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                        return false;  // half a pair names no character
                    }
                    vesperlin::base::AppendUtf8(static_cast<char32_t>(unit), out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;  // no closing quote
    }

    std::string_view text;
    std::size_t at = 0;
};

// --- The script ---

struct Holder {
    ProcessId processId = 0;
    bool loads = false;
    bool opens = false;
};

struct ScriptedPath {
    std::string path;
    std::string fullPath;
    PathKind kind = PathKind::File;
    std::vector<Holder> holders;
};

std::string KindText(PathKind kind) {
    return kind == PathKind::File ? "file" : kind == PathKind::Folder ? "folder" : "unreadable";
}

const Json& Require(const Json* value, Json::Kind kind) {
    FUZZ_CHECK(value != nullptr && value->kind == kind);
    return *value;
}

void CheckHit(const Json& hit, const ScriptedPath& scripted, const FakeSystem& system) {
    FUZZ_CHECK(hit.kind == Json::Object);
    const Json& processId = Require(hit.Member("processId"), Json::Number);
    const ProcessId id = static_cast<ProcessId>(std::stoul(processId.text));
    FUZZ_CHECK(std::to_string(id) == processId.text);
    // Only processes that could be named are listed.
    const auto process = system.processes.find(id);
    FUZZ_CHECK(process != system.processes.end());
    const std::string& imageName = Require(hit.Member("imageName"), Json::String).text;
    FUZZ_CHECK(imageName == WellFormedUtf8(process->second));
    // A name that is not UTF-8 keeps its bytes, so that two such names stay apart.
    const Json* hex = hit.Member("imageNameHex");
    FUZZ_CHECK((hex != nullptr) == (WellFormedUtf8(process->second) != process->second));
    if (hex) FUZZ_CHECK(Require(hex, Json::String).text == HexBytes(process->second));
    FUZZ_CHECK(Require(hit.Member("path"), Json::String).text == WellFormedUtf8(scripted.fullPath));
    const std::string& foundAs = Require(hit.Member("foundAs"), Json::String).text;
    FUZZ_CHECK(foundAs == "module" || foundAs == "handle");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t head = input.Byte();
    FakeSystem system;
    system.processes.clear();
    system.inaccessible = head >> 2;
    // Something always runs and holds something open, so that both passes run to the end.
    system.modules = {{1, "C:\\Windows\\system32\\ntdll.dll"}};
    system.handles = {{1, true, "\\Device\\HarddiskVolume1\\pagefile.sys"}};

    std::vector<ScriptedPath> paths(1 + head % 3);
    ProcessId nextId = 0x100;
    for (ScriptedPath& scripted : paths) {
        scripted.path = input.Field();
        const std::uint8_t kind = input.Byte() % 4;
        scripted.kind = kind == 1   ? PathKind::Folder
                        : kind == 2 ? PathKind::Unreadable
                                    : PathKind::File;
        if (!system.GetFullPath(scripted.path, scripted.fullPath)) scripted.fullPath.clear();
        if (scripted.kind != PathKind::Unreadable) system.kinds[scripted.path] = scripted.kind;
        // An empty folder: the folder alone is queried, under its full path.
        if (scripted.kind == PathKind::Folder) system.folders[scripted.fullPath] = {};
        const int holders = input.Byte() % 3;
        for (int h = 0; h < holders; ++h) {
            Holder holder{nextId++};
            system.processes[holder.processId] = input.Field();
            const std::uint8_t how = input.Byte();
            holder.loads = (how & 1) != 0;
            holder.opens = (how & 2) != 0;
            if (holder.loads) system.modules.push_back({holder.processId, scripted.fullPath});
            std::string deviceForm;
            if (holder.opens && system.GetDeviceFileName(scripted.fullPath, deviceForm))
                system.handles.push_back({holder.processId, true, deviceForm});
            scripted.holders.push_back(holder);
        }
    }

    std::vector<std::string> args = {"--json", "--"};
    for (const ScriptedPath& scripted : paths) args.push_back(scripted.path);
    MemorySink out, err;
    CliPlatform platform;
    platform.version = "0";
    platform.privilegedUser = "root";
    RunCli(
        args, [&](Messages&) { return std::make_unique<FakeSystem>(system); }, platform, out, err);

    Json document;
    FUZZ_CHECK(JsonReader(out.Text()).Document(document));
    FUZZ_CHECK(document.kind == Json::Object);
    FUZZ_CHECK(Require(document.Member("schemaVersion"), Json::Number).text == "1");
    FUZZ_CHECK(Require(document.Member("exitedProcesses"), Json::Number).text == "0");
    FUZZ_CHECK(Require(document.Member("inaccessibleProcesses"), Json::Number).text ==
               std::to_string(system.inaccessible));
    const Json& queries = Require(document.Member("queries"), Json::Array);
    FUZZ_CHECK(queries.items.size() == paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const Json& query = queries.items[i];
        const ScriptedPath& scripted = paths[i];
        FUZZ_CHECK(Require(query.Member("query"), Json::String).text ==
                   WellFormedUtf8(scripted.path));
        // Two paths of the same text are one path to the system, whatever each was scripted as.
        // An empty argument names nothing, whatever the system would say of "".
        const PathKind kind =
            scripted.path.empty() ? PathKind::Unreadable : system.Classify(scripted.path);
        FUZZ_CHECK(Require(query.Member("kind"), Json::String).text == KindText(kind));
        const std::string& status = Require(query.Member("status"), Json::String).text;
        const Json& hits = Require(query.Member("hits"), Json::Array);
        FUZZ_CHECK(Require(query.Member("used"), Json::Bool).boolean == !hits.items.empty());
        for (const Json& hit : hits.items) CheckHit(hit, scripted, system);
        for (const Json& line : Require(query.Member("lines"), Json::Array).items)
            FUZZ_CHECK(line.kind == Json::String && WellFormedUtf8(line.text) == line.text);
        // A query that ran to its end lists every holder that has the path loaded.
        if (status != "done" || kind == PathKind::Unreadable) continue;
        for (const Holder& holder : scripted.holders) {
            if (!holder.loads) continue;
            FUZZ_CHECK(std::any_of(hits.items.begin(), hits.items.end(), [&](const Json& hit) {
                return hit.Member("processId")->text == std::to_string(holder.processId) &&
                       hit.Member("foundAs")->text == "module";
            }));
        }
    }
    return 0;
}

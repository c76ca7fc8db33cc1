#include "sysinfo/procfs/process_details.h"

#include <pwd.h>
#include <sys/stat.h>

#include <vector>

#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {

bool ParseStatusUid(std::string_view status, uid_t& uid) {
    constexpr std::string_view key = "Uid:";
    std::size_t at = 0;
    while (at < status.size()) {
        std::size_t end = status.find('\n', at);
        if (end == std::string_view::npos) end = status.size();
        std::string_view line = status.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(key)) continue;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        unsigned long long value = 0;
        std::size_t digits = 0;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
            value = value * 10 + static_cast<unsigned>(line[digits] - '0');
            if (value > static_cast<uid_t>(-1)) return false;
            ++digits;
        }
        if (digits == 0) return false;
        if (digits < line.size() && line[digits] != ' ' && line[digits] != '\t') return false;
        uid = static_cast<uid_t>(value);
        return true;
    }
    return false;
}

std::string JoinCommandLine(std::string_view cmdline) {
    if (!cmdline.empty() && cmdline.back() == '\0') cmdline.remove_suffix(1);
    std::string joined(cmdline);
    for (char& c : joined)
        if (c == '\0') c = ' ';
    return joined;
}

namespace {

std::string UserName(uid_t uid) {
    std::vector<char> buffer(1024);
    for (int attempt = 0; attempt < 6; ++attempt) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error == 0 && found && found->pw_name) return found->pw_name;
        break;
    }
    return std::to_string(uid);
}

}  // namespace

bool ReadProcessDetails(int procFd, ProcessId processId, ProcessDetails& details) {
    details = ProcessDetails();
    char path[32];
    int errorCode = 0;
    std::string text;
    if (!ReadWholeFile(procFd, ProcessEntryPath(path, processId, "status"), text, errorCode))
        return false;
    uid_t uid = 0;
    if (ParseStatusUid(text, uid)) details.user = UserName(uid);
    if (ReadLinkText(procFd, ProcessEntryPath(path, processId, "exe"), text, errorCode))
        details.programPath = text;
    if (ReadWholeFile(procFd, ProcessEntryPath(path, processId, "cmdline"), text, errorCode))
        details.commandLine = JoinCommandLine(text);
    return true;
}

}  // namespace vesperlin::sysinfo::procfs

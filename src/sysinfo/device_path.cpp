#include "sysinfo/device_path.h"

#include <cctype>
#include <cstddef>
#include <utility>

namespace vesperlin::sysinfo {

namespace {

constexpr char kLanmanPrefix[] = "\\Device\\LanmanRedirector\\";
constexpr char kMupPrefix[] = "\\Device\\Mup\\";
constexpr char kNamespacePrefix[] = "\\??\\";
// A drive substituted for a folder points at another DOS path; a chain of them ends well
// before this unless the drive table loops.
constexpr int kMaxSubstitutions = 8;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool StartsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// A mapped drive's target is \Device\LanmanRedirector\;X:<logon id>\server\share. The logon
// id is hexadecimal on current systems; the literal text must match in its case. The rest,
// spaces included, is the server and share.
bool ReadRedirectedShare(const std::string& target, std::string& serverShare) {
    const std::string lead = std::string(kLanmanPrefix) + ";";
    if (!StartsWith(target, lead)) return false;
    std::size_t at = lead.size();
    if (at + 2 > target.size() || target[at + 1] != ':') return false;
    at += 2;
    const std::size_t idStart = at;
    while (at < target.size() && IsHexDigit(target[at])) ++at;
    if (at == idStart || at >= target.size() || target[at] != '\\') return false;
    ++at;
    if (at >= target.size()) return false;
    serverShare = target.substr(at);
    return true;
}

bool TranslateDrivePath(const std::string& path, std::string& deviceForm,
                        const DriveTargetLookup& lookup, int depth);

// Rewrites a drive's target into the form handle names use.
bool ResolveTarget(std::string target, std::string& resolved, const DriveTargetLookup& lookup,
                   int depth) {
    if (StartsWithIgnoringAsciiCase(target, kLanmanPrefix)) {
        std::string serverShare;
        if (!ReadRedirectedShare(target, serverShare)) return false;
        resolved = kMupPrefix + serverShare;
        return true;
    }
    // A substituted drive names a DOS path in the native namespace: translate that path too.
    if (StartsWith(target, kNamespacePrefix) && depth < kMaxSubstitutions) {
        const std::string dosPath = target.substr(sizeof(kNamespacePrefix) - 1);
        if (dosPath.size() >= 2 && IsDriveLetter(dosPath[0]) && dosPath[1] == ':')
            return TranslateDrivePath(dosPath, resolved, lookup, depth + 1);
    }
    resolved = std::move(target);
    return true;
}

bool TranslateDrivePath(const std::string& path, std::string& deviceForm,
                        const DriveTargetLookup& lookup, int depth) {
    // The drive name is the first two bytes; a shorter path is its own drive name, with
    // nothing after it.
    const std::size_t driveLength = path.size() < 2 ? path.size() : 2;
    std::string target;
    if (!lookup || !lookup(path.substr(0, driveLength), target)) return false;
    std::string resolved;
    if (!ResolveTarget(std::move(target), resolved, lookup, depth)) return false;
    deviceForm = resolved + path.substr(driveLength);
    return true;
}

// \\server\share\rest -> \Device\Mup\server\share\rest; false without a server name.
bool TranslateServerPath(const std::string& serverPath, std::string& deviceForm) {
    if (serverPath.empty() || serverPath[0] == '\\') return false;
    deviceForm = kMupPrefix + serverPath;
    return true;
}

}  // namespace

bool GetDeviceFileName(const std::string& path, std::string& deviceForm,
                       const DriveTargetLookup& lookup) {
    if (path.empty()) return false;
    if (StartsWith(path, "\\\\?\\") || StartsWith(path, "\\\\.\\")) {
        // \\?\C:\x and \\.\PIPE\x name a DOS device directly; \\?\UNC\server\share a share.
        const std::string rest = path.substr(4);
        if (StartsWithIgnoringAsciiCase(rest, "UNC\\")) {
            return TranslateServerPath(rest.substr(4), deviceForm);
        }
        const std::size_t slash = rest.find('\\');
        const std::string device = rest.substr(0, slash);
        std::string target;
        if (device.empty() || !lookup || !lookup(device, target)) return false;
        std::string resolved;
        if (!ResolveTarget(std::move(target), resolved, lookup, 0)) return false;
        deviceForm = resolved + (slash == std::string::npos ? std::string() : rest.substr(slash));
        return true;
    }
    if (StartsWith(path, "\\\\")) return TranslateServerPath(path.substr(2), deviceForm);
    return TranslateDrivePath(path, deviceForm, lookup, 0);
}

std::string Win32NamespaceForm(const std::string& fullPath) {
    if (StartsWith(fullPath, "\\\\?\\") || StartsWith(fullPath, "\\\\.\\"))
        return kNamespacePrefix + fullPath.substr(4);
    if (StartsWith(fullPath, "\\\\")) {
        if (fullPath.size() == 2 || fullPath[2] == '\\') return std::string();
        return std::string(kNamespacePrefix) + "UNC\\" + fullPath.substr(2);
    }
    if (fullPath.size() >= 2 && IsDriveLetter(fullPath[0]) && fullPath[1] == ':')
        return kNamespacePrefix + fullPath;
    return std::string();
}

std::vector<std::string> WindowsHandleNames(const std::string& deviceForm,
                                            const std::string& fullPath) {
    // Windows names a disk file by its device path; Wine by its native namespace form
    // (\??\C:\dir\file). Either one names the file.
    std::vector<std::string> names;
    for (std::size_t at = 0; at < deviceForm.size();) {
        std::size_t end = deviceForm.find(kDeviceFormSeparator, at);
        if (end == std::string::npos) end = deviceForm.size();
        if (end > at) names.push_back(deviceForm.substr(at, end - at));
        at = end + 1;
    }
    std::string namespaceForm = Win32NamespaceForm(fullPath);
    if (!namespaceForm.empty()) names.push_back(std::move(namespaceForm));
    return names;
}

std::string TrimTrailingSeparators(const std::string& fullPath) {
    std::size_t end = fullPath.size();
    while (end > 0 && (fullPath[end - 1] == '\\' || fullPath[end - 1] == '/')) {
        // A separator right after a drive's colon is its root: it stays.
        if (end >= 3 && fullPath[end - 2] == ':' && IsDriveLetter(fullPath[end - 3])) break;
        --end;
    }
    if (end == 0) return fullPath;  // only separators: nothing to name but what was given
    return fullPath.substr(0, end);
}

std::string FullPathOfFinalPath(const std::string& finalPath) {
    if (StartsWithIgnoringAsciiCase(finalPath, "\\\\?\\UNC\\")) return "\\\\" + finalPath.substr(8);
    if (StartsWith(finalPath, "\\\\?\\") && finalPath.size() >= 6 && IsDriveLetter(finalPath[4]) &&
        finalPath[5] == ':') {
        return finalPath.substr(4);
    }
    return finalPath;
}

bool NamesFileOnVolume(const std::string& fullPath) {
    std::string path = fullPath;
    if (StartsWith(path, "\\\\?\\")) {
        path = path.substr(4);
        if (StartsWithIgnoringAsciiCase(path, "UNC\\")) return path.size() > 4;
    } else if (StartsWith(path, "\\\\")) {
        // \\server\share; \\.\ and \\?\ lead to devices.
        return path.size() > 2 && path[2] != '.' && path[2] != '?' && path[2] != '\\';
    }
    // C: alone is the volume, and C:dir is relative to the drive's current folder.
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

bool IsNamedPipePath(const std::string& path) {
    if (!StartsWith(path, "\\\\.\\") && !StartsWith(path, "\\\\?\\")) return false;
    return path.size() > 9 && StartsWithIgnoringAsciiCase(path.substr(4), "pipe\\");
}

}  // namespace vesperlin::sysinfo

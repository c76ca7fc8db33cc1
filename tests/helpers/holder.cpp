// vesperlin-holder: a helper process for tests that holds real things open until it is ended.
//   vesperlin-holder.exe --ready PATH [--file PATH]... [--folder PATH]... [--library PATH]...
//                        [--blocked-pipe NAME] [--event NAME] [--key] [--self-handles]
//                        [--map PATH]... [--unmap-on NAME] [--deny-all | --deny-handles]
//                        [--say TEXT]
// It writes its process id to the --ready file once everything is held, then sleeps until it
// is terminated. A failure to hold anything ends it with exit code 3 and no ready file.
//   --map PATH        maps the file as data and closes both the file and the mapping handle:
//                     only the view holds the file
//   --unmap-on NAME   creates the events NAME and NAME.unmapped; once NAME is set, every view
//                     is unmapped and NAME.unmapped set
//   --deny-all        lets no other process open this one
//   --deny-handles    lets others read its modules and memory, but not copy its handles
//   --say TEXT        writes TEXT as a line to its standard output once everything is held: a
//                     program that prints and then hangs, for the tests of the Wine wrapper
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE blockedPipeRead = nullptr;
std::vector<void*> views;
HANDLE unmapRequest = nullptr;
HANDLE unmapDone = nullptr;

DWORD WINAPI Unmapper(LPVOID) {
    if (WaitForSingleObject(unmapRequest, INFINITE) != WAIT_OBJECT_0) return 1;
    for (void* view : views) UnmapViewOfFile(view);
    SetEvent(unmapDone);
    return 0;
}

// Replaces the process's access list: nobody but the process itself (through its pseudo
// handle) and whoever holds a handle from before gets in, except for `allowed` to everyone.
bool RestrictAccess(DWORD allowed) {
    alignas(DWORD) unsigned char buffer[256];
    auto* acl = reinterpret_cast<ACL*>(buffer);
    if (!InitializeAcl(acl, sizeof buffer, ACL_REVISION)) return false;
    if (allowed != 0) {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                      &everyone))
            return false;
        const BOOL added = AddAccessAllowedAce(acl, ACL_REVISION, allowed, everyone);
        FreeSid(everyone);
        if (!added) return false;
    }
    return SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

bool MapAsData(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (!mapping) return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (!view) return false;
    views.push_back(view);
    return true;
}

// Blocks in a synchronous read on the pipe for as long as the process lives.
DWORD WINAPI BlockedReader(LPVOID) {
    char byte = 0;
    DWORD read = 0;
    ReadFile(blockedPipeRead, &byte, 1, &read, nullptr);
    return 0;
}

DWORD WINAPI Sleeper(LPVOID) {
    Sleep(INFINITE);
    return 0;
}

bool Fail(const char* what, const char* arg) {
    std::fprintf(stderr, "holder: cannot hold %s %s (error %lu)\n", what, arg ? arg : "",
                 GetLastError());
    return false;
}

bool Hold(int argc, char** argv, std::string& readyPath, std::vector<std::string>& said) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--ready" && value) {
            readyPath = value;
            ++i;
        } else if (option == "--file" && value) {
            HANDLE h = CreateFileA(value, GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) return Fail("file", value);
            ++i;
        } else if (option == "--folder" && value) {
            HANDLE h = CreateFileA(value, GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h == INVALID_HANDLE_VALUE) return Fail("folder", value);
            ++i;
        } else if (option == "--library" && value) {
            if (!LoadLibraryA(value)) return Fail("library", value);
            ++i;
        } else if (option == "--blocked-pipe" && value) {
            const std::string name = std::string("\\\\.\\pipe\\") + value;
            HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
            if (server == INVALID_HANDLE_VALUE) return Fail("pipe", value);
            blockedPipeRead = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
            if (blockedPipeRead == INVALID_HANDLE_VALUE) return Fail("pipe client", value);
            if (!CreateThread(nullptr, 0, BlockedReader, nullptr, 0, nullptr))
                return Fail("reader thread", value);
            ++i;
        } else if (option == "--event" && value) {
            if (!CreateEventA(nullptr, TRUE, FALSE, value)) return Fail("event", value);
            ++i;
        } else if (option == "--key") {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) != ERROR_SUCCESS)
                return Fail("key", "HKCU\\Software");
        } else if (option == "--self-handles") {
            // A process handle and a thread handle, so that name queries of those types
            // have something to answer about.
            if (!OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()))
                return Fail("process handle", nullptr);
            if (!CreateThread(nullptr, 0, Sleeper, nullptr, 0, nullptr))
                return Fail("thread handle", nullptr);
        } else if (option == "--map" && value) {
            if (!MapAsData(value)) return Fail("mapping of", value);
            ++i;
        } else if (option == "--unmap-on" && value) {
            unmapRequest = CreateEventA(nullptr, TRUE, FALSE, value);
            unmapDone =
                CreateEventA(nullptr, TRUE, FALSE, (std::string(value) + ".unmapped").c_str());
            if (!unmapRequest || !unmapDone) return Fail("events", value);
            if (!CreateThread(nullptr, 0, Unmapper, nullptr, 0, nullptr))
                return Fail("unmapping thread", value);
            ++i;
        } else if (option == "--say" && value) {
            said.push_back(value);
            ++i;
        } else if (option == "--deny-all") {
            if (!RestrictAccess(0)) return Fail("access list", nullptr);
        } else if (option == "--deny-handles") {
            if (!RestrictAccess(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION |
                                PROCESS_VM_READ | SYNCHRONIZE))
                return Fail("access list", nullptr);
        } else {
            std::fprintf(stderr, "holder: unknown or incomplete option %s\n", option.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string readyPath;
    std::vector<std::string> said;
    if (!Hold(argc, argv, readyPath, said)) return 3;
    if (!readyPath.empty()) {
        // Written to a temporary name and renamed, so a reader never sees a partial file.
        const std::string temp = readyPath + ".tmp";
        FILE* f = std::fopen(temp.c_str(), "w");
        if (!f) return 3;
        std::fprintf(f, "%lu\n", GetCurrentProcessId());
        std::fclose(f);
        if (!MoveFileExA(temp.c_str(), readyPath.c_str(), MOVEFILE_REPLACE_EXISTING)) return 3;
    }
    for (const auto& line : said) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

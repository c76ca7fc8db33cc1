#include "support/holder_process.h"

#include <cstdio>

namespace vesperlin::testing {

std::string ExecutableFolder() {
    std::vector<char> buffer(32768);
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::string path(buffer.data(), n);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TempFolder::TempFolder() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    static LONG counter = 0;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "vesperlin-test-%lu-%ld", GetCurrentProcessId(),
                      InterlockedIncrement(&counter));
        path = std::string(temp) + name;
        if (CreateDirectoryA(path.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

namespace {
void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = folder + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}
}  // namespace

TempFolder::~TempFolder() {
    if (!path.empty()) RemoveTree(path);
}

std::string TempFolder::MakeFile(const std::string& name, const std::string& content) const {
    const std::string file = path + "\\" + name;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(h);
    }
    return file;
}

std::string TempFolder::MakeSubfolder(const std::string& name) const {
    const std::string folder = path + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

HolderProcess::HolderProcess(const std::vector<std::string>& options, DWORD timeoutMs) {
    const std::string ready = readyFolder.Path() + "\\ready.txt";
    std::string command =
        "\"" + ExecutableFolder() + "vesperlin-holder.exe\" --ready \"" + ready + "\"";
    for (const auto& option : options) command += " \"" + option + "\"";
    // The holder says on its standard error why it gave up; that goes to a file of its own, so
    // that a test whose holder did not start can tell why.
    const std::string errors = readyFolder.Path() + "\\errors.txt";
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE errorFile = CreateFileA(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                   CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (errorFile != INVALID_HANDLE_VALUE) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = errorFile;
    }
    PROCESS_INFORMATION info = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const bool created =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, errorFile != INVALID_HANDLE_VALUE, 0,
                       nullptr, nullptr, &startup, &info);
    if (errorFile != INVALID_HANDLE_VALUE) CloseHandle(errorFile);
    if (!created) {
        std::fprintf(stderr, "holder: cannot start %s (error %lu)\n", command.c_str(),
                     GetLastError());
        return;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (GetFileAttributesA(ready.c_str()) != INVALID_FILE_ATTRIBUTES) {
            processId = info.dwProcessId;
            return;
        }
        if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) break;  // it gave up
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    std::string said;
    if (FILE* f = std::fopen(errors.c_str(), "rb")) {
        char buffer[512];
        said.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    std::fprintf(stderr, "holder: %s did not get ready (exit code %lu): %s\n", command.c_str(),
                 exitCode, said.empty() ? "it said nothing" : said.c_str());
    Stop();
}

HolderProcess::~HolderProcess() {
    Stop();
}

void HolderProcess::Stop() {
    if (process) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
        process = nullptr;
    }
    processId = 0;
}

}  // namespace vesperlin::testing

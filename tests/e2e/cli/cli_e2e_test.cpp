#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

#include <fstream>
#include <sstream>

#include "support/holder_process.h"

using vesperlin::testing::ExecutableFolder;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

namespace {

// A line of the console program: the decimal process id, two blanks, the text.
std::string ConsoleLine(DWORD processId, const std::string& text) {
    return std::to_string(processId) + "  " + text;
}

// One argument quoted so that the C runtime's splitter gives it back unchanged.
std::string Quote(const std::string& arg) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    std::string out;
    for (char c : s) {
        if (c != '\r') out += c;  // the console program writes text-mode line ends
    }
    return out;
}

// How far a process that does not end has come: one that never got past start-up (a Wine
// fault) has only the first modules loaded and one thread.
std::string StateOf(HANDLE process, DWORD processId) {
    HMODULE modules[256];
    DWORD bytes = 0;
    const int moduleCount = EnumProcessModules(process, modules, sizeof modules, &bytes)
                                ? static_cast<int>(bytes / sizeof(HMODULE))
                                : -1;
    int threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == processId) ++threads;
        }
        CloseHandle(snapshot);
    }
    return std::to_string(moduleCount) + " modules loaded, " + std::to_string(threads) + " threads";
}

struct CliRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};

// Runs vesperlin-cli.exe with its output and errors in files: reading two pipes needs care,
// and Wine's services may inherit a pipe and keep it open.
CliRun RunCli(const std::vector<std::string>& args, const std::string& currentFolder = "") {
    CliRun run;
    TempFolder capture;
    const std::string outPath = capture.Path() + "\\out.txt",
                      errPath = capture.Path() + "\\err.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    std::string command = Quote(ExecutableFolder() + "vesperlin-cli.exe");
    for (const auto& arg : args) command += " " + Quote(arg);
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        ADD_FAILURE() << "cannot start vesperlin-cli.exe, error " << GetLastError();
        return run;
    }
    // Well inside the test's own time-out, so that a program that hangs is reported with what
    // it wrote before, not ended by CTest with nothing said.
    const bool ended = WaitForSingleObject(info.hProcess, 15000) == WAIT_OBJECT_0;
    std::string state;
    if (!ended) {
        state = StateOf(info.hProcess, info.dwProcessId);
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    if (!ended) {
        ADD_FAILURE() << "vesperlin-cli.exe did not end within 15 s (" << command << "; " << state
                      << ")\nits output so far: " << run.out << "\nits errors so far: " << run.err;
    }
    return run;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

std::string FullPath(const std::string& path) {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n && n < sizeof buffer ? std::string(buffer, n) : path;
}

// How the JSON document says the first hit of `processId` was found ("module", "handle",
// "mapped"), or "" when the process has no hit.
std::string FoundAs(const std::string& json, DWORD processId) {
    const std::string hit = "{\"processId\": " + std::to_string(processId) + ",";
    const auto at = json.find(hit);
    if (at == std::string::npos) return "";
    const std::string key = "\"foundAs\": \"";
    const auto value = json.find(key, at);
    const auto end = json.find('}', at);
    if (value == std::string::npos || value > end) return "";
    return json.substr(value + key.size(), json.find('"', value + key.size()) - value - key.size());
}

class CliProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        held = folder.MakeFile("held.txt");
        // A copy of its own, out of the queried folder: the tests running beside this one load
        // the build's copy into their helpers, and a query of that path would find them too.
        library = libraryFolder.Path() + "\\holder_lib.dll";
        ASSERT_TRUE(
            CopyFileA((ExecutableFolder() + "holder_lib.dll").c_str(), library.c_str(), TRUE));
        holder = std::make_unique<HolderProcess>(
            std::vector<std::string>{"--file", held, "--library", library});
        ASSERT_TRUE(holder->Started());
        holderLine = ConsoleLine(holder->Id(), "vesperlin-holder.exe");
    }

    TempFolder folder, libraryFolder;
    std::string held, library, holderLine;
    std::unique_ptr<HolderProcess> holder;
};

}  // namespace

TEST_F(CliProgram, NamesTheProcessThatHoldsAFileOpen) {
    const CliRun run = RunCli({held});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out, holderLine)) << run.out;
    EXPECT_EQ(run.out.find("is not used."), std::string::npos);
}

// The fields of the first hit of the holder in a JSON document; empty when there is none.
std::string HolderHit(const std::string& json, DWORD holderId) {
    std::ostringstream hit;
    hit << "{\"processId\": " << holderId << ", \"imageName\": \"vesperlin-holder.exe\"";
    const auto at = json.find(hit.str());
    if (at == std::string::npos) return std::string();
    return json.substr(at, json.find('}', at) - at);
}

TEST_F(CliProgram, FindsALoadedLibraryAsAModule) {
    const CliRun run = RunCli({"--json", library});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string hit = HolderHit(run.out, holder->Id());
    EXPECT_NE(hit.find("\"foundAs\": \"module\", \"use\": \"module\""), std::string::npos)
        << run.out;
}

TEST_F(CliProgram, ShowsTheMatchedPathsOfAFolder) {
    folder.MakeFile("idle.txt");
    const CliRun run = RunCli({folder.Path()});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out,
                        ConsoleLine(holder->Id(), "vesperlin-holder.exe (" + FullPath(held) + ")")))
        << run.out;
    EXPECT_EQ(run.out.find("idle.txt"), std::string::npos) << run.out;
}

TEST_F(CliProgram, AnswersForAFolderWithATrailingBackslashAndForANamedPipe) {
    const CliRun run = RunCli({folder.Path() + "\\"});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out,
                        ConsoleLine(holder->Id(), "vesperlin-holder.exe (" + FullPath(held) + ")")))
        << run.out;

    const std::string name = "vesperlin-cli-" + std::to_string(GetCurrentProcessId());
    HolderProcess server({"--blocked-pipe", name});
    ASSERT_TRUE(server.Started());
    const CliRun pipeRun = RunCli({"\\\\.\\pipe\\" + name});
    EXPECT_EQ(pipeRun.exitCode, 0u) << pipeRun.err;
    EXPECT_EQ(pipeRun.out, ConsoleLine(server.Id(), "vesperlin-holder.exe") + "\n");
}

TEST_F(CliProgram, ReportsTheHandleValueAndGrantedAccessInJson) {
    const CliRun run = RunCli({"--json", held});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string fields = HolderHit(run.out, holder->Id());
    EXPECT_NE(fields.find("\"use\": \"handle\", \"useText\": \"handle 0x"), std::string::npos)
        << run.out;
    EXPECT_NE(fields.find(", \"handle\": "), std::string::npos) << run.out;
    EXPECT_NE(fields.find("\"access\": [\"read\", \"synchronise\"]"), std::string::npos) << fields;
}

TEST_F(CliProgram, SaysAnUnusedFileIsNotUsedAndExitsWithOne) {
    const std::string unused = folder.MakeFile("unused.txt");
    const CliRun run = RunCli({unused});
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    EXPECT_EQ(run.out, "unused.txt is not used.\n");
}

TEST_F(CliProgram, QueriesARelativePathFromTheCurrentFolder) {
    const CliRun run = RunCli({"held.txt"}, folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out, holderLine)) << run.out;
}

TEST_F(CliProgram, HandlesNamesBeyondAscii) {
    const std::string name =
        "Pr\xC3\xBC"
        "fung-\xE4\xB8\xAD.txt";
    const std::string file = folder.MakeFile(name);
    ASSERT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    HolderProcess other({"--file", file});
    ASSERT_TRUE(other.Started());
    const CliRun run = RunCli({file});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out, ConsoleLine(other.Id(), "vesperlin-holder.exe"))) << run.out;

    const CliRun folderRun = RunCli({folder.Path()});
    EXPECT_TRUE(HasLine(folderRun.out,
                        ConsoleLine(other.Id(), "vesperlin-holder.exe (" + FullPath(file) + ")")))
        << folderRun.out;
}

TEST_F(CliProgram, FailsOnAPathThatDoesNotExist) {
    const CliRun run = RunCli({folder.Path() + "\\missing.txt", held});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.err.rfind("vesperlin-cli: " + folder.Path() + "\\missing.txt: ", 0), 0u)
        << run.err;
    EXPECT_TRUE(HasLine(run.out, holderLine)) << run.out;  // the other path is still queried
}

namespace {

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

}  // namespace

TEST_F(CliProgram, FindsAFileWhosePathIsLongerThanTheOldLimit) {
    // Wide calls with the extended-length prefix: the 8-bit calls refuse such paths under Wine.
    std::string deep = folder.Path();
    while (deep.size() < 300) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_TRUE(CreateDirectoryW(Wide("\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
    }
    const std::string file = deep + "\\long.txt";
    // This test process holds the file: the program reports its own kind like any other.
    HANDLE h = CreateFileW(Wide("\\\\?\\" + file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    const CliRun run = RunCli({file});
    CloseHandle(h);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(run.out, ConsoleLine(GetCurrentProcessId(), "e2e_cli_windows.exe")))
        << run.out;
    // Cleaning up: the 8-bit removal of TempFolder cannot reach this deep.
    DeleteFileW(Wide("\\\\?\\" + file).c_str());
    while (deep.size() > folder.Path().size()) {
        RemoveDirectoryW(Wide("\\\\?\\" + deep).c_str());
        deep.resize(deep.rfind('\\'));
    }
}

TEST_F(CliProgram, FindsAFileThatIsOnlyMappedAsData) {
    const std::string mapped = folder.MakeFile("mapped.bin");
    HolderProcess other({"--map", mapped});
    ASSERT_TRUE(other.Started());
    const CliRun run = RunCli({"--json", mapped});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(FoundAs(run.out, other.Id()), "mapped") << run.out;
    EXPECT_NE(run.out.find("\"" + ConsoleLine(other.Id(), "vesperlin-holder.exe") + "\""),
              std::string::npos)
        << run.out;
}

TEST_F(CliProgram, CountsTheProcessesItMayNotInspectInTextAndJson) {
    // A helper that lets nobody open it; the prefix runs elevated with the debug privilege,
    // so the program calls it protected.
    HolderProcess closed({"--file", held, "--deny-all"});
    ASSERT_TRUE(closed.Started());
    const CliRun run = RunCli({"--json", held});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string key = "\"inaccessibleProcesses\": ";
    const auto at = run.out.find(key);
    ASSERT_NE(at, std::string::npos) << run.out;
    const unsigned long count = std::stoul(run.out.substr(at + key.size()));
    // Other tests may run closed helpers of their own meanwhile: at least ours is counted, and
    // both reports of one run agree.
    EXPECT_GE(count, 1u);
    const std::string said = "vesperlin-cli: " + std::to_string(count) +
                             (count == 1 ? " process" : " processes") +
                             " could not be inspected (protected)\n";
    EXPECT_EQ(run.err, said);
    // The helper's own handle is out of sight; the one the fixture's helper holds is not.
    EXPECT_NE(run.out.find(holderLine), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(ConsoleLine(closed.Id(), "vesperlin-holder.exe")), std::string::npos);
}

TEST_F(CliProgram, PrintsOnlyTheIdsOnceEachAndLabelsSeveralPaths) {
    const std::string idle = folder.MakeFile("idle.txt");
    const CliRun pids = RunCli({"--pids", held, library, idle});
    EXPECT_EQ(pids.exitCode, 0u) << pids.err;
    EXPECT_EQ(pids.out, std::to_string(holder->Id()) + "\n");
    const CliRun lines = RunCli({held, idle});
    EXPECT_EQ(lines.out, held + ":\n" + holderLine + "\n" + idle + ":\nidle.txt is not used.\n");
}

TEST_F(CliProgram, ShowsTheUserProgramAndCommandLineInTheLongForm) {
    const CliRun run = RunCli({"--long", held});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    // The id column is right-aligned: its heading has as many spaces before it as the widest
    // id needs.
    EXPECT_EQ(run.out.find_first_not_of(' '), run.out.find("PID")) << run.out;
    EXPECT_NE(run.out.find("vesperlin-holder.exe"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--file"), std::string::npos) << run.out;  // its command line
    EXPECT_NE(run.out.find("handle 0x"), std::string::npos) << run.out;
}

TEST_F(CliProgram, FindsWhatIsOpenAnywhereUnderAFolder) {
    const std::string inner = folder.Path() + "\\a\\b";
    ASSERT_TRUE(CreateDirectoryA((folder.Path() + "\\a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
    const std::string deep = inner + "\\deep.txt";
    HANDLE file = CreateFileA(deep.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    HolderProcess deepHolder({"--file", deep});
    ASSERT_TRUE(deepHolder.Started());
    const CliRun run = RunCli({"-r", folder.Path()});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(HasLine(
        run.out, ConsoleLine(deepHolder.Id(), "vesperlin-holder.exe (" + FullPath(deep) + ")")))
        << run.out;
    EXPECT_TRUE(HasLine(run.out,
                        ConsoleLine(holder->Id(), "vesperlin-holder.exe (" + FullPath(held) + ")")))
        << run.out;
    // Without -r the folder's own entries only: the deep file is not one.
    EXPECT_EQ(RunCli({folder.Path()}).out.find("deep.txt"), std::string::npos);
    const CliRun volume = RunCli({"--mount", "--pids", held});
    EXPECT_NE(volume.out.find(std::to_string(deepHolder.Id()) + "\n"), std::string::npos)
        << volume.out;
}

TEST_F(CliProgram, WaitsForAHolderToLetGoOrGivesUp) {
    const DWORD start = GetTickCount();
    const CliRun busy = RunCli({"--wait-free=1", held});
    EXPECT_EQ(busy.exitCode, 1u) << busy.err;
    EXPECT_GE(GetTickCount() - start, 1000u);
    EXPECT_TRUE(HasLine(busy.out, holderLine)) << busy.out;
    holder->Stop();
    const CliRun free = RunCli({"--wait-free=10", held});
    EXPECT_EQ(free.exitCode, 0u) << free.err;
    EXPECT_EQ(free.out, "held.txt is not used.\n");
}

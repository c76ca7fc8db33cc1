// vesperlin.exe started as its own process: its window is found by title and read from here.
// List box text is read with the wide messages: Wine answers LB_GETTEXT sent from another
// process in UTF-16 whatever was asked.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/holder_process.h"

namespace {

using vesperlin::testing::ExecutableFolder;
using vesperlin::testing::HolderProcess;
using vesperlin::testing::TempFolder;

constexpr char kTitle[] = "Vesperlin - Ambrelle";

std::string Narrow(const std::wstring& wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), text.data(),
                        length, nullptr, nullptr);
    return text;
}

// A message to the program's window, answered within 5 s: a program that does not answer
// fails the test with that, rather than holding it until CTest ends it without a word.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer)) {
        ADD_FAILURE() << "the program did not answer message " << message << " within 5 s";
        return 0;
    }
    return static_cast<LRESULT>(answer);
}

std::vector<std::string> ReadLines(HWND list) {
    std::vector<std::string> lines;
    const LRESULT count = Ask(list, LB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        // Generous: the reply is UTF-16 however the text was stored.
        std::wstring text(1024, L'\0');
        const LRESULT length = Ask(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        lines.push_back(Narrow(text));
    }
    return lines;
}

std::string TextOf(HWND window) {
    std::wstring text(512, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), 512)));
    return Narrow(text);
}

// The folder of the program under test: beside the test, or the one VESPERLIN_PROGRAM_FOLDER
// names (the package check runs these cases against an unpacked release).
std::string ProgramFolder() {
    std::vector<char> folder(32768);  // the longest value an environment variable has
    const DWORD length = GetEnvironmentVariableA("VESPERLIN_PROGRAM_FOLDER", folder.data(),
                                                 static_cast<DWORD>(folder.size()));
    if (length == 0) return ExecutableFolder();
    std::string path(folder.data(), length);
    if (path.back() != '\\') path += '\\';
    return path;
}

// vesperlin.exe with the given arguments and extra environment entries.
class Program {
  public:
    explicit Program(const std::string& arguments,
                     const std::vector<std::string>& environment = {}) {
        const std::string exe = ProgramFolder() + "vesperlin.exe";
        std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
        std::string block;
        if (!environment.empty()) {
            for (const std::string& entry : environment) block += entry + '\0';
            char* inherited = GetEnvironmentStringsA();
            for (const char* p = inherited; *p; p += std::strlen(p) + 1)
                block += std::string(p) + '\0';
            FreeEnvironmentStringsA(inherited);
            block += '\0';
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                           block.empty() ? nullptr : block.data(), nullptr, &startup, &info)) {
            process = info.hProcess;
            processId = info.dwProcessId;
            CloseHandle(info.hThread);
        }
    }
    ~Program() {
        if (process == nullptr) return;
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            if (window) PostMessageA(window, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process, 10000) == WAIT_TIMEOUT) TerminateProcess(process, 1);
        }
        CloseHandle(process);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The program's main window, once it is shown; null after the time-out.
    HWND Window(DWORD timeoutMs = 15000) {
        const DWORD start = GetTickCount();
        while (window == nullptr && GetTickCount() - start < timeoutMs) {
            for (HWND candidate = FindWindowA(nullptr, kTitle); candidate;
                 candidate = FindWindowExA(nullptr, candidate, nullptr, kTitle)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(candidate, &owner);
                if (owner == processId && IsWindowVisible(candidate)) window = candidate;
            }
            if (window == nullptr) Sleep(20);
        }
        return window;
    }
    HWND List() { return GetDlgItem(Window(), 1000); }

    // The lines once there are some (or after the time-out, whatever is there).
    std::vector<std::string> LinesWhenFilled(DWORD timeoutMs = 15000) {
        const DWORD start = GetTickCount();
        std::vector<std::string> lines;
        while ((lines = ReadLines(List())).empty() && GetTickCount() - start < timeoutMs) Sleep(20);
        return lines;
    }

    // True when the process ended within the time.
    bool Ended(DWORD timeoutMs = 10000) const {
        return WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    }
    bool Started() const { return process != nullptr; }

  private:
    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
};

std::string HolderLine(const HolderProcess& holder) {
    char line[64];
    std::snprintf(line, sizeof line, "0x%04lX  vesperlin-holder.exe", holder.Id());
    return line;
}

TEST(Program, ListsTheProcessHoldingThePathGivenOnTheCommandLine) {
    TempFolder folder;
    const std::string file = folder.MakeFile("held by helper.txt");
    HolderProcess holder({"--file", file});
    ASSERT_TRUE(holder.Started());
    Program program("\"" + file + "\"");
    ASSERT_TRUE(program.Started());
    ASSERT_NE(program.Window(), nullptr);
    EXPECT_EQ(program.LinesWhenFilled(), std::vector<std::string>{HolderLine(holder)});
}

TEST(Program, SaysWhenNothingUsesTheLastArgument) {
    TempFolder folder;
    const std::string first = folder.MakeFile("first.txt");
    const std::string last = folder.MakeFile("last.txt");
    Program program(first + " " + last);
    ASSERT_NE(program.Window(), nullptr);
    EXPECT_EQ(program.LinesWhenFilled(), std::vector<std::string>{"last.txt is not used."});
}

TEST(Program, WithoutArgumentsShowsAnEmptyListAndEndsOnWmClose) {
    Program program("");
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    Sleep(500);
    EXPECT_TRUE(ReadLines(program.List()).empty());
    EXPECT_FALSE(program.Ended(0));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Ended());
}

TEST(Program, ResultListIsCreatedHookedSoLongLinesScrollSideways) {
    TempFolder folder;
    const std::string file = folder.MakeFile(std::string(120, 'w') + ".txt");
    Program program("\"" + file + "\"");
    ASSERT_NE(program.Window(), nullptr);
    ASSERT_EQ(program.LinesWhenFilled().size(), 1u);
    RECT client{};
    GetClientRect(program.List(), &client);
    // The hook keeps the horizontal range at the widest line, wider than the list here.
    EXPECT_GT(Ask(program.List(), LB_GETHORIZONTALEXTENT), client.right);
    EXPECT_TRUE(GetWindowLongPtrA(program.List(), GWL_STYLE) & WS_HSCROLL);
}

TEST(Program, EnterInTheListEndsTheProgram) {
    Program program("");
    ASSERT_NE(program.Window(), nullptr);
    PostMessageA(program.List(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_TRUE(program.Ended());
}

// Wine takes the user's language from the Unix locale of the process that starts it, so
// this runs as its own test with a German locale (see CMakeLists.txt) and is skipped elsewhere.
TEST(ProgramInGerman, ShowsTheGermanLibrarysTexts) {
    if (GetUserDefaultLangID() != 0x0407) GTEST_SKIP() << "user language is not German here";
    TempFolder folder;
    const std::string file = folder.MakeFile("bericht.txt");
    Program program("\"" + file + "\"");
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(program.LinesWhenFilled(),
              std::vector<std::string>{"bericht.txt wird nicht verwendet."});
    HWND groupBox = GetWindow(GetWindow(GetWindow(window, GW_CHILD), GW_HWNDNEXT), GW_HWNDNEXT);
    EXPECT_EQ(TextOf(groupBox), "Verwendung");
}

}  // namespace

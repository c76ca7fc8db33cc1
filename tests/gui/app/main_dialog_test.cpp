// The main dialog in our own process, driven from inside its modal loop.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "fakes/fake_system.h"
#include "framework/application.h"
#include "modal_script.h"
#include "resource_ids.h"

namespace vesperlin::app {
namespace {

using testing::FakeSystem;
using testing::ListLines;
using testing::MessageRecorder;
using testing::RunModalScript;
using testing::ScriptStep;
using testing::Wait;
using testing::WindowText;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return Lower(name);
}

RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
    RECT rect{x, y, x + width, y + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

RECT ChildRect(HWND dialog, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class MainDialogTest : public ::testing::Test {
  protected:
    MainDialogTest() {
        // A system in which something runs and holds something else open.
        system.processes = {{4, "System"}, {0x1234, "editor.exe"}, {0x20000, "viewer.exe"}};
        system.modules = {{0x1234, "C:\\apps\\editor.exe"}, {0x20000, "C:\\apps\\viewer.exe"}};
        system.handles = {{4, true, "\\Device\\HarddiskVolume1\\pagefile.sys"}};
    }

    framework::Application app;
    MessageRecorder messages;
    FakeSystem system;
};

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    DWORD style;
    DWORD exStyle;
};

TEST_F(MainDialogTest, ShowsTheTemplatesControlsInOrderWithTheirTextsPositionsAndStyles) {
    const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP;
    const ExpectedControl expected[] = {
        {IDC_RESULT_LIST, "listbox", "", 7, 54, 172, 100,
         // WS_VSCROLL too, but the list box hides its bar (and the bit) while it is not needed.
         WS_CHILD | WS_VISIBLE | WS_TABSTOP | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT |
             LBS_WANTKEYBOARDINPUT,
         WS_EX_DLGMODALFRAME | WS_EX_LEFTSCROLLBAR},
        {-1, "static", "Visit", 13, 42, 14, 8, text, WS_EX_RTLREADING},
        {-1, "button", "Usage", 6, 2, 173, 34, WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
         WS_EX_RTLREADING},
        {-1, "static",
         "Simply drag a file/folder on this window to see, from which process(es) it is used.", 12,
         14, 156, 16, text, 0},
        {-1, "static", "for other cool tools!", 109, 42, 64, 8, text, WS_EX_RTLREADING},
        {IDC_WEB_LINK, "static", "vesperlin.org", 30, 42, 75, 8, text, WS_EX_RTLREADING},
    };
    MainDialog dialog(nullptr, system);
    const auto result = RunModalScript(
        dialog, {[&](HWND window) {
            EXPECT_EQ(WindowText(window), "Vesperlin - Ambrelle");
            const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
            const LONG_PTR required =
                WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
            EXPECT_EQ(style & required, required);
            EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
            EXPECT_TRUE(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
            RECT client{};
            GetClientRect(window, &client);
            EXPECT_TRUE(SameRect(client, DialogUnits(window, 0, 0, 186, 161)));

            HWND child = GetWindow(window, GW_CHILD);
            for (const ExpectedControl& control : expected) {
                SCOPED_TRACE(control.text);
                if (child == nullptr) {
                    ADD_FAILURE() << "fewer controls than the template has";
                    break;
                }
                EXPECT_EQ(GetDlgCtrlID(child), control.id);
                EXPECT_EQ(ClassOf(child), control.className);
                EXPECT_EQ(WindowText(child), control.text);
                EXPECT_TRUE(SameRect(
                    ChildRect(window, child),
                    DialogUnits(window, control.x, control.y, control.width, control.height)));
                const DWORD childStyle = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
                EXPECT_EQ(childStyle & control.style, control.style);
                const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_EXSTYLE));
                EXPECT_EQ(exStyle & control.exStyle, control.exStyle);
                child = GetWindow(child, GW_HWNDNEXT);
            }
            EXPECT_EQ(child, nullptr) << "more controls than the template has";
            // An unsorted list: lines stay in the order the query adds them.
            EXPECT_EQ(GetWindowLongPtrA(dialog.resultList.Handle(), GWL_STYLE) & LBS_SORT, 0);
            for (int i = 0; i < 40; ++i) dialog.resultList.AddString("line");
            EXPECT_TRUE(GetWindowLongPtrA(dialog.resultList.Handle(), GWL_STYLE) & WS_VSCROLL);
            // The first control, the result list, has the focus.
            EXPECT_EQ(GetFocus(), dialog.resultList.Handle());
            EndDialog(window, IDOK);
            return true;
        }});
    EXPECT_TRUE(result.finished) << result.timedOut;
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MainDialogTest, BindsTheListAndTheLinkWithItsTarget) {
    MainDialog dialog(nullptr, system);
    RunModalScript(dialog, {[&](HWND window) {
                       EXPECT_EQ(dialog.resultList.Handle(), GetDlgItem(window, IDC_RESULT_LIST));
                       EXPECT_EQ(dialog.webLink.Handle(), GetDlgItem(window, IDC_WEB_LINK));
                       EXPECT_EQ(dialog.webLink.GetTarget(), "https://vesperlin.org/");
                       EXPECT_TRUE(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
                       EndDialog(window, IDOK);
                       return true;
                   }});
}

TEST_F(MainDialogTest, SystemMenuEndsWithASeparatorAndTheAboutEntry) {
    MainDialog dialog(nullptr, system);
    RunModalScript(dialog, {[&](HWND window) {
                       HMENU menu = GetSystemMenu(window, FALSE);
                       EXPECT_NE(menu, nullptr);
                       const int count = GetMenuItemCount(menu);
                       EXPECT_GE(count, 2);
                       EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
                       EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUT));
                       char entry[64] = {};
                       GetMenuStringA(menu, count - 1, entry, sizeof entry, MF_BYPOSITION);
                       EXPECT_STREQ(entry, "&About Vesperlin...");
                       EndDialog(window, IDOK);
                       return true;
                   }});
}

bool Topmost(HWND window) {
    return (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

HICON CaptionIcon(HWND window, WPARAM which) {
    return reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, which, 0));
}

TEST_F(MainDialogTest, CaptionIconClickSwitchesThePinIconAndBack) {
    MainDialog dialog(nullptr, system);
    HICON pinned = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PINNED));
    HICON unpinned = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_UNPINNED));
    ASSERT_NE(pinned, nullptr);
    ASSERT_NE(unpinned, nullptr);
    ASSERT_NE(pinned, unpinned);
    RunModalScript(dialog, {[&](HWND window) {
                       EXPECT_FALSE(dialog.isPinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_BIG), unpinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_SMALL), unpinned);

                       // The low four bits belong to the platform and are ignored.
                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU | 0x3, 0);
                       EXPECT_TRUE(dialog.isPinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_BIG), pinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_SMALL), pinned);
                       // The click did not open the system menu.
                       EXPECT_EQ(FindWindowA("#32768", nullptr), nullptr);

                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU, 0);
                       EXPECT_FALSE(dialog.isPinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_SMALL), unpinned);

                       SendMessageA(window, WM_SYSCOMMAND, SC_DEFAULT, 0);
                       EXPECT_TRUE(dialog.isPinned);
                       EXPECT_EQ(CaptionIcon(window, ICON_BIG), pinned);
                       EndDialog(window, IDOK);
                       return true;
                   }});
}

// The pin on a dialog of its own, with the other system commands.
TEST_F(MainDialogTest, PinnableDialogTogglesTopmostOnCaptionIconClicks) {
    PinnableDialog dialog(IDD_ABOUT, IDI_PINNED, IDI_UNPINNED, nullptr);
    RunModalScript(dialog, {[&](HWND window) {
                       EXPECT_FALSE(Topmost(window));
                       EXPECT_EQ(CaptionIcon(window, ICON_BIG), dialog.unpinnedIcon);
                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU, 0);
                       EXPECT_TRUE(Topmost(window));
                       EXPECT_EQ(CaptionIcon(window, ICON_BIG), dialog.pinnedIcon);
                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU, 0);
                       EXPECT_FALSE(Topmost(window));
                       SendMessageA(window, WM_SYSCOMMAND, SC_DEFAULT, 0);
                       EXPECT_TRUE(Topmost(window));
                       // Other commands keep their default handling and leave the pin alone.
                       SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                       EXPECT_TRUE(dialog.isPinned);
                       EXPECT_TRUE(IsIconic(window));
                       SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
                       EndDialog(window, IDOK);
                       return true;
                   }});
}

TEST_F(MainDialogTest, EnterEscAndCloseEndTheDialog) {
    struct Case {
        const char* what;
        std::function<void(HWND dialog, HWND list)> act;
        INT_PTR code;
    };
    const Case cases[] = {
        {"Enter", [](HWND, HWND list) { PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0x001C0001); },
         IDOK},
        {"Esc", [](HWND, HWND list) { PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001); },
         IDCANCEL},
        {"WM_CLOSE", [](HWND dialog, HWND) { PostMessageA(dialog, WM_CLOSE, 0, 0); }, IDCANCEL},
        {"system menu Close",
         [](HWND dialog, HWND) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MainDialog dialog(nullptr, system);
        const auto result = RunModalScript(dialog,
                                           {[&](HWND window) {
                                                c.act(window, dialog.resultList.Handle());
                                                return true;
                                            },
                                            // Nothing more to do: the dialog has to end by itself.
                                            [](HWND) { return false; }},
                                           3000);
        EXPECT_TRUE(result.timedOut.empty()) << "the dialog did not end";
        EXPECT_EQ(result.code, c.code);
    }
}

// What reached the dialog as WM_HELP on this thread, and what the dialog answered.
struct HelpSeen {
    static inline HWND dialog = nullptr;
    static inline int count = 0;
    static inline LRESULT answer = 0;
    static inline HELPINFO info{};

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && call->hwnd == dialog && call->message == WM_HELP) {
            ++count;
            // The dialog's own answer, where a dialog keeps it: under Wine the hook's lResult
            // for a message the (wide) list box sends to our 8-bit dialog comes back as 0.
            answer = GetWindowLongPtrA(dialog, DWLP_MSGRESULT);
            info = *reinterpret_cast<const HELPINFO*>(call->lParam);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int ThreadWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

void PressKey(WORD key) {
    INPUT strokes[2] = {};
    strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
    strokes[0].ki.wVk = strokes[1].ki.wVk = key;
    strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
    EXPECT_EQ(SendInput(2, strokes, sizeof(INPUT)), 2u);
}

TEST_F(MainDialogTest, F1InTheListDoesNothingAndTheDragIconIsTheDialogIcon) {
    MainDialog dialog(nullptr, system);
    ASSERT_NE(dialog.dialogIcon, nullptr);
    HHOOK hook =
        SetWindowsHookExA(WH_CALLWNDPROCRET, HelpSeen::Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    HelpSeen::count = 0;
    int windowsBefore = 0;
    const auto result = RunModalScript(
        dialog, {[&](HWND window) {
                     // The key goes where the user's would: to the focused list of the
                     // foreground window, through the input queue and the dialog's own loop.
                     // (Tests that show windows take turns on the one desktop: CMake.)
                     SetForegroundWindow(window);
                     return GetForegroundWindow() == window;
                 },
                 [&](HWND window) {
                     HelpSeen::dialog = window;
                     SetFocus(dialog.resultList.Handle());
                     windowsBefore = ThreadWindows();
                     SetWindowLongPtrA(window, DWLP_MSGRESULT, 0x5A5A);
                     PressKey(VK_F1);
                     return true;
                 },
                 [&](HWND) { return HelpSeen::count > 0; }, Wait(300),
                 [&](HWND window) {
                     EXPECT_EQ(HelpSeen::count, 1);
                     EXPECT_EQ(HelpSeen::answer, TRUE);
                     EXPECT_EQ(HelpSeen::info.iContextType, HELPINFO_WINDOW);
                     EXPECT_EQ(HelpSeen::info.hItemHandle, dialog.resultList.Handle());
                     // Nothing opened, nothing moved: the dialog is as it was.
                     EXPECT_EQ(ThreadWindows(), windowsBefore);
                     EXPECT_TRUE(IsWindowVisible(window));
                     EXPECT_EQ(GetFocus(), dialog.resultList.Handle());
                     EXPECT_EQ(
                         reinterpret_cast<HICON>(SendMessageA(window, WM_QUERYDRAGICON, 0, 0)),
                         dialog.dialogIcon);
                     EndDialog(window, IDOK);
                     return true;
                 }});
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(result.finished) << result.timedOut << ": F1 never reached the dialog as WM_HELP";
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MainDialogTest, AboutEntryOpensTheAboutBoxOwnedByTheDisabledMainWindow) {
    MainDialog dialog(nullptr, system);
    HWND about = nullptr;
    const auto result = RunModalScript(
        dialog, {[&](HWND window) {
                     // Posted: the About box runs its own modal loop, which the script keeps
                     // ticking in.
                     PostMessageA(window, WM_SYSCOMMAND, IDM_ABOUT, 0);
                     return true;
                 },
                 [&](HWND window) {
                     about = FindWindowA(nullptr, "About Vesperlin");
                     if (about == nullptr) return false;
                     EXPECT_EQ(GetWindow(about, GW_OWNER), window);
                     EXPECT_FALSE(IsWindowEnabled(window));
                     EXPECT_NE(GetDlgItem(about, IDOK), nullptr);
                     EXPECT_EQ(WindowText(GetDlgItem(about, IDOK)), "OK");
                     // The application icon is shown in the box.
                     HWND icon = GetWindow(about, GW_CHILD);
                     EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0);
                     PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                     return true;
                 },
                 [&](HWND window) {
                     if (IsWindow(about)) return false;
                     EXPECT_TRUE(IsWindowEnabled(window));
                     EndDialog(window, IDOK);
                     return true;
                 }});
    EXPECT_TRUE(result.finished) << result.timedOut;
}

TEST_F(MainDialogTest, WithoutInitialPathNoStartupTimerIsArmed) {
    MainDialog dialog(nullptr, system);
    RunModalScript(dialog, {Wait(300), [&](HWND window) {
                                // Killing a timer that does not exist fails.
                                EXPECT_FALSE(KillTimer(window, MainDialog::StartupQueryTimer));
                                EXPECT_TRUE(ListLines(dialog.resultList.Handle()).empty());
                                EndDialog(window, IDOK);
                                return true;
                            }});
    EXPECT_EQ(system.processSnapshotsTaken, 0u);
}

// Runs the dialog with `initialPath` until the start-up query has filled the list and
// a while longer (a second query would show by then); returns the lines then.
struct StartupRun {
    std::vector<std::string> lines;
    bool timerGone = false;
    bool finished = false;
};

StartupRun RunWithInitialPath(MainDialog& dialog, const std::string& initialPath) {
    dialog.initialPath = initialPath;
    StartupRun run;
    const auto result = RunModalScript(
        dialog, {[&](HWND) {
                     // Not yet: the query waits for its timer, which our 10 ms script timer
                     // (armed before the window existed) always precedes.
                     EXPECT_TRUE(ListLines(dialog.resultList.Handle()).empty());
                     return true;
                 },
                 [&](HWND) { return !ListLines(dialog.resultList.Handle()).empty(); }, Wait(400),
                 [&](HWND window) {
                     run.lines = ListLines(dialog.resultList.Handle());
                     run.timerGone = !KillTimer(window, MainDialog::StartupQueryTimer);
                     EndDialog(window, IDOK);
                     return true;
                 }});
    run.finished = result.finished;
    return run;
}

TEST_F(MainDialogTest, StartupQueryFillsTheListOnceAfterTheWindowOpens) {
    system.kinds["C:\\data\\report.txt"] = sysinfo::PathKind::File;
    MainDialog dialog(nullptr, system);
    const StartupRun run = RunWithInitialPath(dialog, "C:\\data\\report.txt");
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(messages.Texts().empty());
    // Once: a second query would have added a second not-used line.
    EXPECT_EQ(run.lines, std::vector<std::string>{"report.txt is not used."});
    EXPECT_TRUE(run.timerGone);
}

TEST_F(MainDialogTest, StartupQueryListsTheProcessesUsingThePath) {
    system.handles = {{0x1234, true, "\\Device\\HarddiskVolume1\\data\\report.txt"},
                      {0x20000, true, "\\Device\\HarddiskVolume1\\data\\report.txt"}};
    MainDialog dialog(nullptr, system);
    const StartupRun run = RunWithInitialPath(dialog, "C:\\data\\report.txt");
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(run.lines, (std::vector<std::string>{"0x1234  editor.exe", "0x20000  viewer.exe"}));
}

TEST_F(MainDialogTest, StartupQueryTakesAFolderAsOnePathWithoutExpandingIt) {
    system.kinds["C:\\data"] = sysinfo::PathKind::Folder;
    system.folders["C:\\data"] = {".", "..", "held.txt"};
    system.handles.push_back({0x1234, true, "\\Device\\HarddiskVolume1\\data\\held.txt"});
    MainDialog dialog(nullptr, system);
    const StartupRun run = RunWithInitialPath(dialog, "C:\\data");
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(run.lines, std::vector<std::string>{"data is not used."});
}

TEST_F(MainDialogTest, CaptionIconClickKeepsTheMainWindowOnTopAndBack) {
    MainDialog dialog(nullptr, system);
    RunModalScript(dialog, {[&](HWND window) {
                       EXPECT_FALSE(Topmost(window));
                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU, 0);
                       EXPECT_TRUE(Topmost(window));
                       SendMessageA(window, WM_SYSCOMMAND, SC_MOUSEMENU, 0);
                       EXPECT_FALSE(Topmost(window));
                       EndDialog(window, IDOK);
                       return true;
                   }});
}

}  // namespace
}  // namespace vesperlin::app

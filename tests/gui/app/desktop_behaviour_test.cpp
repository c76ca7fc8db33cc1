// The main dialog as a real Windows desktop sees it: the wait cursor while it queries, the
// drop messages let through to an elevated window, and Ctrl+C in the result list.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/main_dialog.h"
#include "fakes/fake_system.h"
#include "framework/application.h"
#include "framework/message_filter.h"
#include "framework/wait_cursor.h"
#include "modal_script.h"

namespace vesperlin::app {
namespace {

using testing::FakeSystem;
using testing::ListLines;
using testing::MessageRecorder;
using testing::RunModalScript;

// What the cursor was whenever the query asked the system for something.
struct CursorSeen {
    std::string step;
    int depth;
    bool waiting;
};

class CursorWatchingSystem : public FakeSystem {
  public:
    std::vector<CursorSeen> seen;

    bool TakeModuleSnapshot(std::vector<sysinfo::ModuleRecord>& out) override {
        Note("modules");
        return FakeSystem::TakeModuleSnapshot(out);
    }
    std::unique_ptr<sysinfo::FileHandleSnapshot> TakeFileHandleSnapshot() override {
        Note("handles");
        return FakeSystem::TakeFileHandleSnapshot();
    }
    bool TakeMappedFileSnapshot(const std::vector<sysinfo::HandleTarget>& targets,
                                const std::vector<sysinfo::ProcessId>& reported,
                                std::vector<sysinfo::MappedFileRecord>& out) override {
        Note("mapped");
        return FakeSystem::TakeMappedFileSnapshot(targets, reported, out);
    }
    bool ListFolder(const std::string& fullPath, std::vector<std::string>& names) override {
        Note("listing");
        return FakeSystem::ListFolder(fullPath, names);
    }

  private:
    void Note(const std::string& step) {
        seen.push_back({step, framework::WaitCursor::Depth(),
                        GetCursor() == LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))});
    }
};

class DesktopBehaviour : public ::testing::Test {
  protected:
    DesktopBehaviour() {
        system.processes = {{0x1234, "editor.exe"}};
        system.modules = {{0x1234, "C:\\apps\\editor.exe"}};
        system.handles = {{0x1234, true, "\\Device\\HarddiskVolume1\\data\\report.txt"}};
        system.mapped = {{0x1234, "\\Device\\HarddiskVolume1\\data\\table.bin"}};
        system.kinds = {{"C:\\data", sysinfo::PathKind::Folder}};
        system.folders["C:\\data"] = {"report.txt", "table.bin"};
    }

    // Every step the query took was taken under the wait cursor.
    void ExpectWaitingThroughout(const std::vector<std::string>& steps) {
        std::vector<std::string> taken;
        for (const CursorSeen& seen : system.seen) {
            taken.push_back(seen.step);
            EXPECT_GT(seen.depth, 0) << seen.step;
            EXPECT_TRUE(seen.waiting) << seen.step;
        }
        EXPECT_EQ(taken, steps);
    }

    framework::Application app;
    MessageRecorder messages;
    CursorWatchingSystem system;
};

TEST_F(DesktopBehaviour, TheStartupQueryRunsUnderTheWaitCursor) {
    MainDialog dialog(nullptr, system);
    dialog.initialPath = "C:\\data\\report.txt";
    int depthAfter = -1;
    const auto result = RunModalScript(
        dialog, {[&](HWND) { return !ListLines(dialog.resultList.Handle()).empty(); },
                 [&](HWND window) {
                     depthAfter = framework::WaitCursor::Depth();
                     EndDialog(window, IDOK);
                     return true;
                 }});
    EXPECT_TRUE(result.finished) << result.timedOut;
    ExpectWaitingThroughout({"modules", "handles", "mapped"});
    EXPECT_EQ(depthAfter, 0);
}

TEST_F(DesktopBehaviour, AFolderIsListedAndQueriedUnderTheWaitCursor) {
    MainDialog dialog(nullptr, system);
    std::vector<std::string> lines;
    const auto result = RunModalScript(dialog, {[&](HWND window) {
                                           EXPECT_TRUE(dialog.ExpandFolder("C:\\data"));
                                           lines = ListLines(dialog.resultList.Handle());
                                           EXPECT_EQ(framework::WaitCursor::Depth(), 0);
                                           EndDialog(window, IDOK);
                                           return true;
                                       }});
    EXPECT_TRUE(result.finished) << result.timedOut;
    ExpectWaitingThroughout({"listing", "modules", "handles", "mapped"});
    EXPECT_EQ(lines, (std::vector<std::string>{"0x1234  editor.exe (C:\\data\\report.txt)",
                                               "0x1234  editor.exe (C:\\data\\table.bin)"}));
}

TEST_F(DesktopBehaviour, LetsTheDropMessagesThroughToItsWindowBeforeTheFirstDrop) {
    std::vector<std::tuple<HWND, UINT, DWORD>> calls;
    const framework::MessageFilterFunction previous =
        framework::SetMessageFilterFunction([&](HWND window, UINT message, DWORD action) {
            calls.emplace_back(window, message, action);
            return true;
        });
    MainDialog dialog(nullptr, system);
    std::vector<std::tuple<HWND, UINT, DWORD>> expected;
    RunModalScript(dialog, {[&](HWND window) {
                       for (UINT message : {0x0233u, 0x004Au, 0x0049u})  // WM_DROPFILES, ...
                           expected.emplace_back(window, message, MSGFLT_ALLOW);
                       EXPECT_EQ(calls, expected);
                       EndDialog(window, IDOK);
                       return true;
                   }});
    framework::SetMessageFilterFunction(previous);
    EXPECT_EQ(calls.size(), 3u);
}

// The clipboard's Unicode text, or `none` when it holds none.
std::wstring ClipboardText(const std::wstring& none = L"<none>") {
    if (!OpenClipboard(nullptr)) return L"<cannot open>";
    std::wstring text = none;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void PutOnClipboard(const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::copy(text.c_str(), text.c_str() + text.size() + 1,
              static_cast<wchar_t*>(GlobalLock(block)));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

// A key pressed in the result list, with the modifiers held down meanwhile as the thread's
// keyboard state says.
void PressInList(HWND list, UINT key, bool control, bool alt = false) {
    BYTE saved[256] = {};
    GetKeyboardState(saved);
    BYTE state[256];
    std::copy(saved, saved + 256, state);
    state[VK_CONTROL] = state[VK_LCONTROL] = control ? 0x80 : 0;
    state[VK_MENU] = state[VK_LMENU] = alt ? 0x80 : 0;
    SetKeyboardState(state);
    SendMessageW(list, WM_KEYDOWN, key, 1);
    SendMessageW(list, WM_KEYUP, key, 0xC0000001);
    SetKeyboardState(saved);
}

// One test for everything that touches the clipboard: tests run side by side, and the clipboard
// is shared by every program of the Wine server.
TEST_F(DesktopBehaviour, CtrlCInTheResultListCopiesEveryLineAndNothingElseDoes) {
    MainDialog dialog(nullptr, system);
    const std::string cyrillic = "0x0010  \xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.exe";
    std::vector<std::wstring> seen;
    RunModalScript(dialog, {[&](HWND window) {
                       const HWND list = dialog.resultList.Handle();
                       SetFocus(list);
                       PutOnClipboard(L"what the user had");
                       PressInList(list, 'C', true);  // an empty list: nothing to copy
                       seen.push_back(ClipboardText());
                       dialog.resultList.AddString("0x1234  editor.exe");
                       dialog.resultList.AddString(cyrillic);
                       dialog.resultList.AddString("0x0020  ");
                       PressInList(list, 'C', false);
                       PressInList(list, 'C', true, true);  // AltGr+C types a letter
                       PressInList(list, 'V', true);
                       seen.push_back(ClipboardText());
                       PressInList(list, 'C', true);
                       seen.push_back(ClipboardText());
                       // The keys still move through the list as before.
                       SendMessageW(list, LB_SETCURSEL, 0, 0);
                       PressInList(list, VK_DOWN, false);
                       seen.push_back(std::to_wstring(SendMessageW(list, LB_GETCURSEL, 0, 0)));
                       EndDialog(window, IDOK);
                       return true;
                   }});
    EXPECT_EQ(seen,
              (std::vector<std::wstring>{
                  L"what the user had", L"what the user had",
                  L"0x1234  editor.exe\r\n0x0010  \x043E\x0442\x0447\x0451\x0442.exe\r\n0x0020  ",
                  L"1"}));
}

}  // namespace
}  // namespace vesperlin::app

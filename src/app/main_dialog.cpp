#include "app/main_dialog.h"

#include "app/about_dialog.h"
#include "base/win32/window_owners.h"
#include "framework/application.h"
#include "framework/clipboard.h"
#include "framework/message_filter.h"
#include "framework/wait_cursor.h"
#include "query/usage_query.h"
#include "resource_ids.h"
#include "sysinfo/platform_system.h"
#include "sysinfo/win32/token_privilege.h"

namespace vesperlin::app {

const framework::MessageEntry MainDialog::messageEntries[] = {
    {WM_SYSCOMMAND, framework::Handler<&MainDialog::OnSysCommand>},
    {WM_PAINT, framework::Handler<&MainDialog::OnPaint>},
    {WM_QUERYDRAGICON, framework::Handler<&MainDialog::OnQueryDragIcon>},
    {WM_TIMER, framework::Handler<&MainDialog::OnTimer>},
    {WM_HELP, framework::Handler<&MainDialog::OnHelp>},
    {WM_VKEYTOITEM, framework::Handler<&MainDialog::OnVKeyToItem>},
};
const framework::MessageTable MainDialog::messageTable{&PinnableDialog::messageTable,
                                                       messageEntries};

MainDialog::MainDialog(HWND parent)
    : PinnableDialog(IDD_MAIN, IDI_PINNED, IDI_UNPINNED, parent),
      dialogIcon(framework::LoadResourceIcon(IDI_UNPINNED)),
      ownedSystem(sysinfo::CreatePlatformSystem(messages)),
      system(ownedSystem.get()) {}

MainDialog::MainDialog(HWND parent, sysinfo::System& system)
    : PinnableDialog(IDD_MAIN, IDI_PINNED, IDI_UNPINNED, parent),
      dialogIcon(framework::LoadResourceIcon(IDI_UNPINNED)),
      system(&system) {}

MainDialog::~MainDialog() = default;

void MainDialog::BindControls() {
    BindControl(IDC_RESULT_LIST, resultList);
    BindControl(IDC_WEB_LINK, webLink);
}

BOOL MainDialog::OnInitDialog() {
    PinnableDialog::OnInitDialog();
    messages.SetOwner(window);

    if (HMENU systemMenu = GetSystemMenu(window, FALSE)) {
        const std::string aboutEntry = framework::LoadResourceString(IDS_ABOUT_ENTRY);
        if (!aboutEntry.empty()) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, aboutEntry.c_str());
        }
    }
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(dialogIcon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(dialogIcon));

    // Shows its own message when it fails; we go on with what we can see either way.
    sysinfo::win32::EnableDebugPrivilege(messages);

    DragAcceptFiles(window, TRUE);
    // Run elevated, we would get no drops from the shell without these; a refusal leaves
    // drops from programs of our own level working, which is all there is to have then.
    for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA),
                         framework::CopyGlobalDataMessage})
        framework::AllowMessageFromLowerIntegrity(window, message);
    webLink.SetTarget(webAddress);
    if (!initialPath.empty()) SetTimer(window, StartupQueryTimer, StartupQueryDelayMs, nullptr);
    // The platform focuses the first control, the result list.
    return TRUE;
}

std::string MainDialog::NotUsedFormat() const {
    std::string format = framework::LoadResourceString(IDS_NOT_USED);
    // A language library without the string still gets a readable line.
    if (format.empty()) format = query::kNotUsedFormat;
    return format;
}

// Both under the wait cursor of their own: the start-up query has no other, and a folder's
// listing and queries take longest of all.
bool MainDialog::QueryPath(const std::string& path) {
    framework::WaitCursor waitCursor;
    return vesperlin::query::QueryPath(*system, results, messages, path, NotUsedFormat());
}

bool MainDialog::ExpandFolder(const std::string& folder) {
    framework::WaitCursor waitCursor;
    return vesperlin::query::ExpandFolder(*system, results, folder);
}

INT_PTR MainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DROPFILES) return PinnableDialog::WindowProc(message, wParam, lParam);
    // The drop data is ours to release once the message has been handled, also when a
    // handler throws.
    const base::UniqueDrop drop(reinterpret_cast<HDROP>(wParam));
    HandleDrop(drop.get());
    return PinnableDialog::WindowProc(message, wParam, lParam);
}

bool MainDialog::OnSysCommand(framework::WindowMessage& message) {
    if ((message.wParam & 0xFFF0) != IDM_ABOUT) return false;
    AboutDialog about(window);
    about.DoModal();
    message.result = 0;
    return true;
}

bool MainDialog::OnPaint(framework::WindowMessage&) {
    if (!IsIconic(window)) return false;
    const base::PaintScope painting(window);
    if (!painting) return false;
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(painting.get()), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(window, &client);
    // Centred; signed division truncates toward zero, as the platform's own drawing does.
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(painting.get(), x, y, dialogIcon);
    return true;
}

bool MainDialog::OnQueryDragIcon(framework::WindowMessage& message) {
    message.result = reinterpret_cast<LRESULT>(dialogIcon);
    return true;
}

bool MainDialog::OnTimer(framework::WindowMessage& message) {
    if (message.wParam == StartupQueryTimer) {
        KillTimer(window, StartupQueryTimer);
        // A folder given on the command line is queried as one path, not expanded.
        if (!initialPath.empty()) QueryPath(initialPath);
    }
    return false;
}

bool MainDialog::OnHelp(framework::WindowMessage& message) {
    // F1 does nothing: there is no help to show.
    message.result = TRUE;
    return true;
}

bool MainDialog::OnVKeyToItem(framework::WindowMessage& message) {
    if (reinterpret_cast<HWND>(message.lParam) != resultList.Handle()) return false;
    const auto pressed = [](int key) { return (GetKeyState(key) & 0x8000) != 0; };
    // Ctrl+C alone: with Alt too it is AltGr+C, a letter on many keyboards.
    if (LOWORD(message.wParam) == 'C' && pressed(VK_CONTROL) && !pressed(VK_MENU)) {
        CopyResultLines();
        message.result = -2;  // handled: the list box does nothing more with the key
        return true;
    }
    // Every other key is the list box's own. Unanswered, the dialog would answer 0, which the
    // list box takes as "go to the first line" for every key, arrows included.
    message.result = -1;
    return true;
}

void MainDialog::CopyResultLines() {
    const HWND list = resultList.Handle();
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count <= 0) return;  // nothing to copy: what the clipboard holds stays
    // Read wide: the lines go out as Unicode text whatever the code pages are.
    std::wstring text, line;
    for (LRESULT i = 0; i < count; ++i) {
        framework::GetListBoxWideText(list, static_cast<int>(i), line);
        if (i > 0) text += L"\r\n";
        text += line;
    }
    // A clipboard that another program holds open just leaves the copy undone.
    framework::SetClipboardText(window, text);
}

}  // namespace vesperlin::app

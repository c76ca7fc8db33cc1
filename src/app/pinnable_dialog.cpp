#include "app/pinnable_dialog.h"

#include "framework/application.h"

namespace vesperlin::app {

const framework::MessageEntry PinnableDialog::messageEntries[] = {
    {WM_CLOSE, framework::Handler<&PinnableDialog::OnClose>},
    {WM_ACTIVATE, framework::Handler<&PinnableDialog::OnActivate>},
    {WM_SYSCOMMAND, framework::Handler<&PinnableDialog::OnSysCommand>},
};
const framework::MessageTable PinnableDialog::messageTable{&framework::Dialog::messageTable,
                                                           messageEntries};

PinnableDialog::PinnableDialog(int templateId, int pinnedIconId, int unpinnedIconId, HWND parent)
    : framework::Dialog(templateId, parent),
      pinnedIcon(framework::LoadResourceIcon(pinnedIconId)),
      unpinnedIcon(framework::LoadResourceIcon(unpinnedIconId)) {}

BOOL PinnableDialog::OnInitDialog() {
    const BOOL result = framework::Dialog::OnInitDialog();
    ApplyPinIcons();
    return result;
}

void PinnableDialog::ApplyPinIcons() {
    HICON icon = isPinned ? pinnedIcon : unpinnedIcon;
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void PinnableDialog::TogglePinned() {
    isPinned = !isPinned;
    SetWindowPos(window, isPinned ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW | SWP_NOOWNERZORDER);
    ApplyPinIcons();
}

bool PinnableDialog::OnClose(framework::WindowMessage&) {
    OnCancel();
    return true;
}

bool PinnableDialog::OnActivate(framework::WindowMessage& message) {
    // Answered without the default activation handling, which would move the focus around.
    message.result = 0;
    return true;
}

bool PinnableDialog::OnSysCommand(framework::WindowMessage& message) {
    // The platform keeps the low four bits of the command for itself.
    const WPARAM command = message.wParam & 0xFFF0;
    if (command != SC_MOUSEMENU && command != SC_DEFAULT) return false;
    // A click on the caption icon pins instead of opening the system menu.
    TogglePinned();
    message.result = 0;
    return true;
}

}  // namespace vesperlin::app

#include "framework/dialog.h"

#include "framework/application.h"
#include "framework/control.h"

namespace vesperlin::framework {

namespace {
constexpr char DialogProperty[] = "Vesperlin-Dialog";

bool IsCtlColorMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

// Messages whose answer is the dialog procedure's own result rather than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
    return IsCtlColorMessage(message) || message == WM_INITDIALOG || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON;
}
}  // namespace

const MessageTable Dialog::messageTable{&Window::messageTable};

Dialog::Dialog(int templateId, HWND parent) : templateId(templateId), parent(parent) {}

Dialog::Dialog(const DLGTEMPLATE* memoryTemplate, HWND parent)
    : memoryTemplate(memoryTemplate), parent(parent) {}

Dialog::~Dialog() {
    if (window != nullptr && IsWindow(window)) RemovePropA(window, DialogProperty);
}

INT_PTR Dialog::DoModal() {
    const HINSTANCE resources = CurrentResourceHandle();
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    if (memoryTemplate != nullptr)
        return DialogBoxIndirectParamA(resources, memoryTemplate, parent, &Dialog::DialogProc,
                                       self);
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(templateId), parent, &Dialog::DialogProc,
                           self);
}

bool Dialog::Create() {
    if (window != nullptr) return false;
    const HINSTANCE resources = CurrentResourceHandle();
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    HWND created = memoryTemplate != nullptr
                       ? CreateDialogIndirectParamA(resources, memoryTemplate, parent,
                                                    &Dialog::DialogProc, self)
                       : CreateDialogParamA(resources, MAKEINTRESOURCEA(templateId), parent,
                                            &Dialog::DialogProc, self);
    return created != nullptr;
}

void Dialog::Destroy() noexcept {
    if (window != nullptr) DestroyWindow(window);
}

void Dialog::EndDialog(INT_PTR code) noexcept {
    if (window != nullptr) ::EndDialog(window, code);
}

bool Dialog::BindControl(int id, Control& control) {
    if (window == nullptr) return false;
    return control.Attach(GetDlgItem(window, id));
}

BOOL Dialog::OnInitDialog() {
    BindControls();
    return TRUE;
}

void Dialog::OnOK() {
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

INT_PTR Dialog::Answer(UINT message, LRESULT result) noexcept {
    if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR Dialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();

    // A bound control answers its own notifications first.
    if ((message == WM_COMMAND || IsCtlColorMessage(message)) && lParam != 0) {
        if (Control* control = Control::FromHandle(reinterpret_cast<HWND>(lParam))) {
            WindowMessage reflected{ReflectedMessageBase + message, wParam, lParam, 0};
            if (control->OnReflectedMessage(reflected)) return Answer(message, reflected.result);
        }
    }

    WindowMessage entry{message, wParam, lParam, 0};
    if (DispatchMessageTable(entry)) return Answer(message, entry.result);

    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        if (self == nullptr || !SetPropA(dialog, DialogProperty, self)) {
            ::EndDialog(dialog, -1);
            return FALSE;
        }
        self->window = dialog;
    } else {
        self = static_cast<Dialog*>(GetPropA(dialog, DialogProperty));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT, creation) get the default handling.
    if (self == nullptr) return FALSE;

    INT_PTR answer = FALSE;
    try {
        answer = self->WindowProc(message, wParam, lParam);
    } catch (...) {
        // A dialog that cannot initialise cannot be used; any other message just falls back to
        // the default handling.
        if (message == WM_INITDIALOG) ::EndDialog(dialog, -1);
        answer = FALSE;
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(dialog, DialogProperty);
        self->window = nullptr;
    }
    return answer;
}

}  // namespace vesperlin::framework

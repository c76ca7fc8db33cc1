#include "framework/control.h"

#include <algorithm>
#include <vector>

namespace vesperlin::win32 {

namespace {
// The bound object of a subclassed control lives in a window property, so that any window
// procedure (ours, the parent's reflection) can find it from the handle alone.
constexpr char ControlProperty[] = "Vesperlin-Control";
// The procedure our subclass replaced, kept beside the object so that our procedure can still
// pass messages on after the object detached while another subclass sat on top of ours.
constexpr char PreviousProcProperty[] = "Vesperlin-Control-Proc";

WNDPROC PreviousProcOf(HWND control) noexcept {
    return reinterpret_cast<WNDPROC>(GetPropA(control, PreviousProcProperty));
}
}  // namespace

Control::~Control() {
    Detach();
}

bool Control::Attach(HWND control) {
    if (control == nullptr || window != nullptr || FromHandle(control) != nullptr) return false;
    if (!SetPropA(control, ControlProperty, this)) return false;
    SetLastError(0);
    // Subclassed with the wide procedure: an 8-bit one would make the control an 8-bit window,
    // and Wine's 8-bit mapping of LB_GETTEXT breaks on items longer than about 550 characters.
    // Messages themselves carry no text we look at, so the wide form costs nothing here.
    const LONG_PTR old = SetWindowLongPtrW(control, GWLP_WNDPROC,
                                           reinterpret_cast<LONG_PTR>(&Control::SubclassProc));
    if (old == 0 && GetLastError() != 0) {
        RemovePropA(control, ControlProperty);
        return false;
    }
    previousProc = reinterpret_cast<WNDPROC>(old);
    SetPropA(control, PreviousProcProperty, reinterpret_cast<HANDLE>(previousProc));
    window = control;
    OnAttach();
    return true;
}

void Control::Detach() noexcept {
    if (window == nullptr) return;
    // Only put the old procedure back when nobody subclassed the control after us; otherwise
    // our procedure stays in their chain and passes everything on, finding no object.
    if (IsWindow(window)) {
        if (GetWindowLongPtrW(window, GWLP_WNDPROC) ==
            reinterpret_cast<LONG_PTR>(&Control::SubclassProc)) {
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc));
            RemovePropA(window, PreviousProcProperty);
        }
        RemovePropA(window, ControlProperty);
    }
    window = nullptr;
    previousProc = nullptr;
}

Control* Control::FromHandle(HWND control) noexcept {
    if (control == nullptr) return nullptr;
    return static_cast<Control*>(GetPropA(control, ControlProperty));
}

bool Control::OnReflectedMessage(WindowMessage& message) noexcept {
    return DispatchMessageTable(message);
}

LRESULT Control::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    MSG relayed{window, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD position = GetMessagePos();
    relayed.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    PreTranslateMessage(relayed);
    WindowMessage entry{message, wParam, lParam, 0};
    if (DispatchMessageTable(entry)) return entry.result;
    return DefaultProc(message, wParam, lParam);
}

LRESULT Control::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (previousProc == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return CallWindowProcW(previousProc, window, message, wParam, lParam);
}

LRESULT CALLBACK Control::SubclassProc(HWND control, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept {
    Control* self = FromHandle(control);
    if (self == nullptr || self->window != control) {
        // Detached while someone else's subclass sat on top of ours: nothing of ours is left to
        // run, but the procedure we replaced still has to see the message.
        WNDPROC previous = PreviousProcOf(control);
        if (previous == nullptr)
            previous = reinterpret_cast<WNDPROC>(GetClassLongPtrW(control, GCLP_WNDPROC));
        if (message == WM_NCDESTROY) RemovePropA(control, PreviousProcProperty);
        return CallWindowProcW(previous, control, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        const WNDPROC previous = self->previousProc;
        self->Detach();
        return CallWindowProcW(previous, control, message, wParam, lParam);
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        return self->DefaultProc(message, wParam, lParam);
    }
}

void ListBox::ResetContent() noexcept {
    if (window != nullptr) SendMessageA(window, LB_RESETCONTENT, 0, 0);
}

int ListBox::GetCount() const noexcept {
    if (window == nullptr) return LB_ERR;
    return static_cast<int>(SendMessageA(window, LB_GETCOUNT, 0, 0));
}

bool GetListBoxWideText(HWND list, int index, std::wstring& text) {
    text.clear();
    if (list == nullptr) return false;
    const auto item = static_cast<WPARAM>(index);
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, item, 0);
    if (length < 0) return false;
    text.assign(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(text.data()));
    if (copied < 0) {
        text.clear();
        return false;
    }
    text.resize(std::min(static_cast<std::size_t>(copied), text.size() - 1));
    return true;
}

bool GetListBoxText(HWND list, int index, std::string& text) {
    text.clear();
    if (list == nullptr) return false;
    const auto item = static_cast<WPARAM>(index);
    if (IsWindowUnicode(list)) {
        // Ask a wide list box in its own terms: Wine's 8-bit mapping of LB_GETTEXT breaks
        // (page fault, stack overflow) on items longer than about 550 characters.
        std::wstring wide;
        if (!GetListBoxWideText(list, index, wide)) return false;
        if (wide.empty()) return true;
        const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
        if (size <= 0) return false;
        text.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                            size, nullptr, nullptr);
        return true;
    }
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, item, 0);
    if (length < 0) return false;
    // The reported length may exceed the text (mixed code pages) but never falls short of it.
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    if (SendMessageA(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(buffer.data())) < 0)
        return false;
    buffer.back() = '\0';
    text.assign(buffer.data());
    return true;
}

bool ListBox::GetText(int index, std::string& text) const {
    return GetListBoxText(window, index, text);
}

std::string ListBox::GetText(int index) const {
    std::string text;
    GetText(index, text);
    return text;
}

int ListBox::AddString(const std::string& text) noexcept {
    if (window == nullptr) return LB_ERR;
    return static_cast<int>(
        SendMessageA(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int ListBox::InsertString(int index, const std::string& text) noexcept {
    if (window == nullptr) return LB_ERR;
    return static_cast<int>(SendMessageA(window, LB_INSERTSTRING, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(text.c_str())));
}

int ListBox::DeleteString(int index) noexcept {
    if (window == nullptr) return LB_ERR;
    return static_cast<int>(SendMessageA(window, LB_DELETESTRING, static_cast<WPARAM>(index), 0));
}

std::string Static::GetText() const {
    if (window == nullptr) return {};
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    buffer.back() = '\0';
    return buffer.data();
}

bool Static::SetText(const std::string& text) noexcept {
    return window != nullptr && SetWindowTextA(window, text.c_str()) != FALSE;
}

}  // namespace vesperlin::win32

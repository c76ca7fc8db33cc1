#include "framework/control.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "base/win32/wide_text.h"

namespace vesperlin::framework {

namespace {
// One subclass per control and one procedure for all of them: the id only has to tell ours
// apart from other subclasses with the same procedure, of which there are none.
constexpr UINT_PTR ControlSubclassId = 1;

// How FromHandle finds the object from the handle alone: it asks the control, and only our
// subclass procedure answers, by writing the object to where lParam points. (GetWindowSubclass
// would do, but mingw-w64's import library leaves it out.) A control that is not ours leaves
// the answer alone, whatever its procedure returns.
UINT BoundObjectQuery() noexcept {
    static const UINT message = RegisterWindowMessageA("Vesperlin-Control-Object");
    return message;
}
}  // namespace

Control::~Control() {
    Detach();
}

bool Control::Attach(HWND control) {
    if (control == nullptr || window != nullptr || FromHandle(control) != nullptr) return false;
    if (!SetWindowSubclass(control, &Control::SubclassProc, ControlSubclassId,
                           reinterpret_cast<DWORD_PTR>(this)))
        return false;
    window = control;
    OnAttach();
    return true;
}

void Control::Detach() noexcept {
    if (window == nullptr) return;
    // comctl32 takes our link out of the chain wherever it sits, and puts the control's own
    // procedure back once no subclass is left.
    if (IsWindow(window)) RemoveWindowSubclass(window, &Control::SubclassProc, ControlSubclassId);
    window = nullptr;
}

Control* Control::FromHandle(HWND control) noexcept {
    if (control == nullptr) return nullptr;
    const UINT query = BoundObjectQuery();
    // Only a window of this thread can be ours (subclassing works within a thread), and a
    // question sent to any other would wait for that thread.
    if (query == 0 || GetWindowThreadProcessId(control, nullptr) != GetCurrentThreadId())
        return nullptr;
    Control* bound = nullptr;
    SendMessageW(control, query, 0, reinterpret_cast<LPARAM>(&bound));
    return bound;
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
    if (window == nullptr) return 0;
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK Control::SubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR reference) noexcept {
    auto* self = reinterpret_cast<Control*>(reference);
    if (message == BoundObjectQuery() && message != 0) {
        *reinterpret_cast<Control**>(lParam) = self;
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        // The last message the window gets: the link goes now, the rest of the chain still
        // sees the message.
        self->Detach();
        return DefSubclassProc(control, message, wParam, lParam);
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
        // The answer is UTF-8, which our manifest makes the active code page.
        std::wstring wide;
        if (!GetListBoxWideText(list, index, wide)) return false;
        text = base::NarrowFromWide(wide);
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

}  // namespace vesperlin::framework

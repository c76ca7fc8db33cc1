#include "ui/listbox_hook.h"

#include <new>

#include "base/win32/wide_text.h"
#include "base/win32/window_owners.h"
#include "framework/control.h"
#include "ui/listbox_extent.h"

namespace vesperlin::ui {

namespace {

// Written once, before any hooked list box exists; never restored.
WNDPROC savedListBoxProc = nullptr;

// Item text travels through the bookkeeping as UTF-8, whatever the code pages: it arrives wide
// (the class procedure is a wide one) and is measured wide, since GDI's 8-bit calls read text
// in the system's code page, not in the UTF-8 one our manifest gives the rest of the program:
// measured that way, Cyrillic comes out too wide and Chinese too narrow.

// The list box as the bookkeeping sees it. Requests go out to the same window and so pass back
// through ListBoxHookProc, which lets them through untouched.
class WindowListBoxPort : public ListBoxPort {
  public:
    explicit WindowListBoxPort(HWND window) : window(window) {}

    std::int32_t MeasureText(FontHandle font, const std::string& text) override {
        base::WindowDc dc(window);
        if (!dc) return 0;
        if (font != nullptr) dc.Select(static_cast<HFONT>(font));
        const std::wstring wide = base::WideFromNarrow(text);
        SIZE size{};
        if (!GetTextExtentPoint32W(dc.get(), wide.c_str(), static_cast<int>(wide.size()), &size))
            return 0;
        return size.cx;
    }

    std::int32_t AverageCharWidth(FontHandle font) override {
        base::WindowDc dc(window);
        if (!dc) return 0;
        if (font != nullptr) dc.Select(static_cast<HFONT>(font));
        TEXTMETRICA metrics{};
        if (!GetTextMetricsA(dc.get(), &metrics)) return 0;
        return metrics.tmAveCharWidth;
    }

    bool GetItemText(std::int32_t index, std::string& text) override {
        std::wstring wide;
        const bool read = framework::GetListBoxWideText(window, index, wide);
        text = base::NarrowFromWide(wide);
        return read;
    }

    void SetHorizontalExtent(std::int32_t extent) override {
        SendMessageA(window, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
    }

    void ClearHorizontalExtent() override {
        CallWindowProcW(savedListBoxProc, window, LB_SETHORIZONTALEXTENT, 0, 0);
    }

  private:
    HWND window;
};

ListBoxExtentState* StateOf(HWND window) {
    return static_cast<ListBoxExtentState*>(GetPropA(window, ListBoxExtentProperty));
}

// Owner-drawn list boxes without LBS_HASSTRINGS carry item data, not text, in LB_ADDSTRING.
bool HoldsStrings(LONG style) {
    const bool ownerDrawn = (style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) != 0;
    return !ownerDrawn || (style & LBS_HASSTRINGS) != 0;
}

void AttachState(HWND window) {
    auto* state = new (std::nothrow) ListBoxExtentState;
    if (state != nullptr && !SetPropA(window, ListBoxExtentProperty, state)) {
        delete state;
    }
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    if ((style & WS_HSCROLL) == 0) SetWindowLongA(window, GWL_STYLE, style | WS_HSCROLL);
}

void ReleaseState(HWND window) {
    delete StateOf(window);
    RemovePropA(window, ListBoxExtentProperty);
}

// The bookkeeping after the saved procedure answered result; nothing escapes.
void RecordAfter(HWND window, ListBoxExtentState& state, UINT message, WPARAM wParam, LPARAM lParam,
                 LRESULT result) {
    WindowListBoxPort port(window);
    switch (message) {
        case WM_SIZE: {
            RECT client{};
            if (GetClientRect(window, &client))
                state.RecordClientRect({client.left, client.top, client.right, client.bottom});
            break;
        }
        case WM_SETFONT:
            state.RemeasureAllItems(port, reinterpret_cast<FontHandle>(wParam));
            break;
        case LB_ADDSTRING:
        case LB_INSERTSTRING: {
            const LONG style = GetWindowLongA(window, GWL_STYLE);
            if (!HoldsStrings(style)) break;
            const auto* wide = reinterpret_cast<const wchar_t*>(lParam);
            const std::string text = base::NarrowFromWide(wide);
            // Only the list box's answer tells where the item landed (sorted, or appended at -1).
            if (message == LB_ADDSTRING && (style & LBS_SORT) == 0)
                state.RecordAddedItem(port, text, result);
            else
                state.RecordInsertedItem(port, text, result);
            break;
        }
        case LB_RESETCONTENT:
            state.ForgetAllItems(port);
            break;
        default:
            break;
    }
}

}  // namespace

int InstallListBoxHook(HINSTANCE instance) {
    if (savedListBoxProc != nullptr) return 0;
    // A throw-away list box is the way to reach the class; if it cannot be made, nothing is
    // hooked and a later call tries again.
    HWND probe =
        CreateWindowExA(0, "LISTBOX", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (probe == nullptr) return 1;
    // The wide class procedure is the one replaced: with an 8-bit one every list box would
    // become an 8-bit window, and Wine's 8-bit mapping of LB_GETTEXT breaks on items longer than
    // about 550 characters. Callers still send 8-bit text; the platform hands it on wide.
    savedListBoxProc = reinterpret_cast<WNDPROC>(GetClassLongPtrW(probe, GCLP_WNDPROC));
    if (savedListBoxProc != nullptr)
        SetClassLongPtrW(probe, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListBoxHookProc));
    DestroyWindow(probe);
    return 1;
}

LRESULT CALLBACK ListBoxHookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ListBoxExtentState* state = message == WM_NCCREATE ? nullptr : StateOf(window);
    try {
        if (message == LB_DELETESTRING && state != nullptr) {
            WindowListBoxPort port(window);
            state->ForgetItem(port, static_cast<std::intptr_t>(static_cast<int>(wParam)));
        }
    } catch (...) {
        // Bookkeeping that fails (out of memory) must not stop the list box from working.
    }

    const LRESULT result = CallWindowProcW(savedListBoxProc, window, message, wParam, lParam);

    try {
        if (message == WM_NCCREATE)
            AttachState(window);
        else if (message == WM_NCDESTROY)
            ReleaseState(window);
        else if (state != nullptr)
            RecordAfter(window, *state, message, wParam, lParam, result);
    } catch (...) {
    }
    return result;
}

}  // namespace vesperlin::ui

#include "ui/link_label.h"

#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>

#include <utility>

namespace vesperlin::ui {

namespace {

void ShellExecuteOpen(HWND owner, const char* verb, const char* file, const char* parameters,
                      const char* directory, int showCommand) {
    // The shell's answer is not looked at: a target it cannot open is not worth a message.
    ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
}

ShellOpenFunction& CurrentShellOpen() {
    static ShellOpenFunction function = ShellExecuteOpen;
    return function;
}

constexpr UINT RedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

// An underlined copy of `font` (weight, height and face kept). A control without a font paints
// with the system font; the default GUI font is the nearest a dialog would have given it.
bool MakeUnderlined(HFONT font, base::UniqueFont& underlined) {
    HGDIOBJ source =
        font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT);
    LOGFONTA description{};
    if (GetObjectA(source, sizeof(description), &description) != sizeof(description)) return false;
    description.lfUnderline = TRUE;
    underlined.reset(CreateFontIndirectA(&description));
    return static_cast<bool>(underlined);
}

}  // namespace

ShellOpenFunction SetShellOpenFunction(ShellOpenFunction function) {
    if (!function) function = ShellExecuteOpen;
    return std::exchange(CurrentShellOpen(), std::move(function));
}

const framework::MessageEntry LinkLabel::messageEntries[] = {
    {WM_MOUSEMOVE, framework::Handler<&LinkLabel::OnMouseMove>},
    {WM_SETCURSOR, framework::Handler<&LinkLabel::OnSetCursor>},
    {framework::ReflectedCommand, framework::Handler<&LinkLabel::OnReflectedCommand>},
    {framework::ReflectedCtlColorStatic, framework::Handler<&LinkLabel::OnReflectedCtlColor>},
    {WM_CAPTURECHANGED, framework::Handler<&LinkLabel::OnCaptureChanged>},
    {WM_DESTROY, framework::Handler<&LinkLabel::OnDestroy>},
    {WM_SETFONT, framework::Handler<&LinkLabel::OnSetFont>},
};

const framework::MessageTable LinkLabel::messageTable{&framework::Static::messageTable,
                                                      messageEntries};

LinkLabel::~LinkLabel() {
    target.clear();
    toolTip.Destroy();
    // The control may outlive the label (it is normally destroyed with its dialog first); it
    // must not keep painting with a font that is about to be deleted.
    const HWND control = window;
    const bool showsOurFont =
        control != nullptr && IsWindow(control) && underlineFont &&
        reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)) == underlineFont.get();
    // Detached first, so that our own handling does not underline the font again.
    Detach();
    if (showsOurFont)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(originalFont), FALSE);
    underlineFont.reset();
}

COLORREF LinkLabel::CurrentColor() const noexcept {
    if (isVisited) return visitedColor;
    return isHovering ? hoverColor : normalColor;
}

void LinkLabel::OpenTarget() const {
    const ShellOpenFunction& open = CurrentShellOpen();
    if (open) open(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWMINIMIZED);
}

void LinkLabel::OnAttach() {
    // Without SS_NOTIFY a static control neither reports clicks nor takes mouse input.
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    SetWindowLongA(window, GWL_STYLE, style | SS_NOTIFY);

    // The dialog's font, underlined.
    originalFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    if (MakeUnderlined(originalFont, underlineFont))
        SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(underlineFont.get()), TRUE);

    // The system's own hand pointer.
    linkCursor = LoadCursorA(nullptr, IDC_HAND);

    // The tooltip has no owner: under Wine an owned topmost popup keeps its owner dialog out
    // of the topmost band, so the caption pin could not keep the window on top. With its
    // empty text it never shows anyway; the label destroys it.
    if (toolTip.Create(nullptr, TTS_ALWAYSTIP)) {
        RECT client{};
        GetClientRect(window, &client);
        toolTip.AddTool(window, toolId, client, "");
        ShowWindow(toolTip.Handle(), SW_HIDE);
    }
}

void LinkLabel::PreTranslateMessage(const MSG& message) {
    if (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST)
        toolTip.RelayEvent(message);
}

// The tooltip has no owner to take it along, so it goes with the label's window.
bool LinkLabel::OnDestroy(framework::WindowMessage&) {
    toolTip.Destroy();
    return false;  // the control's own handling runs too
}

bool LinkLabel::OnSetFont(framework::WindowMessage& message) {
    const auto font = reinterpret_cast<HFONT>(message.wParam);
    if (underlineFont && font == underlineFont.get()) return false;  // ours: the control takes it
    // Someone else's font: the dialog manager sends a new one after a DPI change. The link
    // shows an underlined copy of it, and the copy it showed so far goes once it is replaced.
    base::UniqueFont underlined;
    if (!MakeUnderlined(font, underlined)) return false;  // then the plain font, as sent
    originalFont = font;
    message.result =
        DefaultProc(WM_SETFONT, reinterpret_cast<WPARAM>(underlined.get()), message.lParam);
    underlineFont = std::move(underlined);
    return true;
}

bool LinkLabel::OnMouseMove(framework::WindowMessage& message) {
    message.result = DefaultProc(message.message, message.wParam, message.lParam);
    if (isHovering) {
        RECT client{};
        GetClientRect(window, &client);
        const POINT point{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
        if (PtInRect(&client, point)) return true;
        // Cleared before the capture goes, so that WM_CAPTURECHANGED finds nothing to undo.
        isHovering = false;
        ReleaseCapture();
        RedrawWindow(window, nullptr, nullptr, RedrawNow);
    } else {
        isHovering = true;
        RedrawWindow(window, nullptr, nullptr, RedrawNow);
        // While captured, moves outside still arrive, so leaving the label is noticed.
        SetCapture(window);
    }
    return true;
}

bool LinkLabel::OnSetCursor(framework::WindowMessage& message) {
    SetCursor(linkCursor);
    message.result = TRUE;
    return true;
}

bool LinkLabel::OnCaptureChanged(framework::WindowMessage& message) {
    // Another window took the mouse (a menu, a drag, a message box): no more moves from outside
    // will reach us, so leave the hover state now instead of staying red.
    if (isHovering && reinterpret_cast<HWND>(message.lParam) != window) {
        isHovering = false;
        RedrawWindow(window, nullptr, nullptr, RedrawNow);
    }
    return false;  // the control's own handling runs too
}

bool LinkLabel::OnReflectedCommand(framework::WindowMessage& message) {
    if (HIWORD(message.wParam) != STN_CLICKED) return false;
    OpenTarget();
    isVisited = true;
    InvalidateRect(window, nullptr, TRUE);
    return true;
}

bool LinkLabel::OnReflectedCtlColor(framework::WindowMessage& message) {
    const HDC dc = reinterpret_cast<HDC>(message.wParam);
    SetTextColor(dc, CurrentColor());
    SetBkMode(dc, TRANSPARENT);
    message.result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    return true;
}

}  // namespace vesperlin::ui

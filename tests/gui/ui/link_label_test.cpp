// The link label bound to a static control of a real dialog: style and font after binding, the
// colour it answers through the dialog's reflected WM_CTLCOLORSTATIC, hover tracking with the
// mouse capture, the click that goes to the shell, the cursor and the tooltip.
#include "ui/link_label.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "gui/framework/dialog_template.h"

namespace vesperlin::ui {
namespace {

using testing::DialogTemplate;

constexpr int LinkId = 1002;
constexpr char Target[] = "https://vesperlin.example/tools";

const DialogTemplate& LinkTemplate() {
    static const DialogTemplate link = [] {
        DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU, 186, 60, "Link");
        t.AddItem(0x0082, -1, SS_LEFT | WS_GROUP, 13, 42, 14, 8, "Visit");
        t.AddItem(0x0082, LinkId, SS_LEFT | WS_GROUP, 30, 42, 75, 8, "vesperlin.example");
        return t;
    }();
    return link;
}

class LinkDialog : public framework::Dialog {
  public:
    LinkDialog() : framework::Dialog(LinkTemplate().Get()) {}
    LinkLabel link;
    int commandsSeen = 0;
    static const framework::MessageTable messageTable;

  protected:
    const framework::MessageTable& GetMessageTable() const override { return messageTable; }
    void BindControls() override { BindControl(LinkId, link); }

  private:
    bool OnCommand(framework::WindowMessage&) {
        ++commandsSeen;
        return true;
    }
    static const framework::MessageEntry messageEntries[];
};

const framework::MessageEntry LinkDialog::messageEntries[] = {
    {WM_COMMAND, framework::Handler<&LinkDialog::OnCommand>},
};
const framework::MessageTable LinkDialog::messageTable{&framework::Dialog::messageTable,
                                                       messageEntries};

struct ShellCall {
    HWND owner;
    std::string verb;
    std::string file;
    bool hasParameters;
    bool hasDirectory;
    int show;
};

class BoundLinkLabel : public ::testing::Test {
  protected:
    void SetUp() override {
        previous = SetShellOpenFunction([this](HWND owner, const char* verb, const char* file,
                                               const char* parameters, const char* directory,
                                               int show) {
            calls.push_back({owner, verb, file, parameters != nullptr, directory != nullptr, show});
        });
        dialog.link.SetTarget(Target);
        ASSERT_TRUE(dialog.Create());
        label = dialog.GetItem(LinkId);
        ASSERT_EQ(dialog.link.Handle(), label);
    }
    void TearDown() override {
        if (GetCapture() != nullptr) ReleaseCapture();
        dialog.Destroy();
        SetShellOpenFunction(std::move(previous));
    }

    // What the label answers when the dialog is asked for the static control's colours.
    COLORREF Colour() {
        HDC dc = CreateCompatibleDC(nullptr);
        SetTextColor(dc, RGB(9, 9, 9));
        SetBkMode(dc, OPAQUE);
        const LRESULT brush =
            SendMessageA(dialog.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
        const COLORREF colour = GetTextColor(dc);
        DeleteDC(dc);
        return colour;
    }
    void MoveTo(int x, int y) {
        SendMessageA(label, WM_MOUSEMOVE, 0,
                     MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    }
    void Click() {
        SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    }

    static constexpr COLORREF Blue = RGB(0, 0, 255);
    static constexpr COLORREF Red = RGB(255, 0, 0);
    static constexpr COLORREF DarkBlue = RGB(5, 34, 143);

    ShellOpenFunction previous;
    std::vector<ShellCall> calls;
    LinkDialog dialog;
    HWND label = nullptr;
};

TEST_F(BoundLinkLabel, TakesClicksAndShowsTheDialogFontUnderlined) {
    EXPECT_NE(GetWindowLongA(label, GWL_STYLE) & SS_NOTIFY, 0);
    LOGFONTA dialogFont{};
    LOGFONTA linkFont{};
    ASSERT_NE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog.Handle(), WM_GETFONT, 0, 0)),
                         sizeof(dialogFont), &dialogFont),
              0);
    ASSERT_NE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)),
                         sizeof(linkFont), &linkFont),
              0);
    EXPECT_TRUE(linkFont.lfUnderline);
    EXPECT_FALSE(dialogFont.lfUnderline);
    EXPECT_EQ(linkFont.lfHeight, dialogFont.lfHeight);
    EXPECT_EQ(linkFont.lfWeight, dialogFont.lfWeight);
    EXPECT_STREQ(linkFont.lfFaceName, dialogFont.lfFaceName);
    EXPECT_EQ(Colour(), Blue);
}

LOGFONTA FontOf(HWND window) {
    LOGFONTA description{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof(description),
               &description);
    return description;
}

// After a DPI change the dialog manager gives every control a font of the new size.
TEST_F(BoundLinkLabel, StaysUnderlinedWhenTheDialogGivesItANewFont) {
    const HFONT before = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
    LOGFONTA description = FontOf(dialog.Handle());
    description.lfHeight = description.lfHeight * 3 / 2 - 1;
    const HFONT scaled = CreateFontIndirectA(&description);
    ASSERT_NE(scaled, nullptr);
    SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);

    const HFONT shown = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
    EXPECT_NE(shown, scaled);
    const LOGFONTA now = FontOf(label);
    EXPECT_TRUE(now.lfUnderline);
    EXPECT_EQ(now.lfHeight, description.lfHeight);
    EXPECT_STREQ(now.lfFaceName, description.lfFaceName);
    EXPECT_EQ(GetObjectType(before), 0u) << "the underlined copy of the old font is deleted";

    // The same font once more changes nothing; the label still answers in its colours.
    SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(shown), TRUE);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)), shown);
    EXPECT_NE(GetObjectType(shown), 0u);
    EXPECT_EQ(Colour(), Blue);
    dialog.Destroy();  // the control goes before its font
    DeleteObject(scaled);
}

TEST_F(BoundLinkLabel, TurnsRedAndHoldsTheMouseWhileThePointerIsOverIt) {
    MoveTo(3, 3);
    EXPECT_EQ(Colour(), Red);
    EXPECT_EQ(GetCapture(), label);
    MoveTo(5, 4);  // still inside
    EXPECT_EQ(Colour(), Red);
    EXPECT_EQ(GetCapture(), label);
    MoveTo(-4, 3);  // outside: client coordinates left of the label
    EXPECT_EQ(Colour(), Blue);
    EXPECT_NE(GetCapture(), label);
    EXPECT_FALSE(dialog.link.IsHovering());
}

TEST_F(BoundLinkLabel, LeavesTheHoverStateWhenAnotherWindowTakesTheMouse) {
    MoveTo(3, 3);
    ASSERT_EQ(GetCapture(), label);
    SetCapture(dialog.Handle());
    EXPECT_FALSE(dialog.link.IsHovering());
    EXPECT_EQ(Colour(), Blue);
    // The next move over the label hovers again.
    ReleaseCapture();
    MoveTo(3, 3);
    EXPECT_EQ(Colour(), Red);
}

TEST_F(BoundLinkLabel, ClickOpensTheTargetMinimizedAndMarksTheLinkVisited) {
    MoveTo(3, 3);
    Click();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].verb, "open");
    EXPECT_EQ(calls[0].file, Target);
    EXPECT_FALSE(calls[0].hasParameters);
    EXPECT_FALSE(calls[0].hasDirectory);
    EXPECT_EQ(calls[0].show, SW_SHOWMINIMIZED);
    EXPECT_EQ(Colour(), DarkBlue) << "visited wins over hovering";
    MoveTo(-4, 3);
    EXPECT_EQ(Colour(), DarkBlue);
    MoveTo(3, 3);
    EXPECT_EQ(Colour(), DarkBlue);

    Click();
    EXPECT_EQ(calls.size(), 2u) << "every click opens the target";
    EXPECT_EQ(dialog.commandsSeen, 0) << "the parent never sees the label's clicks";
}

TEST_F(BoundLinkLabel, ClickWithoutATargetStillMarksTheLinkVisited) {
    dialog.link.SetTarget("");
    SendMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(LinkId, STN_CLICKED),
                 reinterpret_cast<LPARAM>(label));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, "");
    EXPECT_TRUE(dialog.link.IsVisited());
    EXPECT_EQ(Colour(), DarkBlue);
}

TEST_F(BoundLinkLabel, ShowsTheSystemHandCursor) {
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    EXPECT_EQ(SendMessageA(label, WM_SETCURSOR, reinterpret_cast<WPARAM>(label),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    const HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(GetCursor(), hand);
}

BOOL CALLBACK CollectToolTips(HWND window, LPARAM found) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

TEST_F(BoundLinkLabel, HasAHiddenTooltipWithOneToolForItself) {
    std::vector<HWND> tips;
    EnumThreadWindows(GetCurrentThreadId(), CollectToolTips, reinterpret_cast<LPARAM>(&tips));
    ASSERT_EQ(tips.size(), 1u);
    HWND tip = tips[0];
    EXPECT_FALSE(IsWindowVisible(tip));
    ASSERT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    TOOLINFOA tool{};
    tool.cbSize = sizeof(tool);
    ASSERT_TRUE(SendMessageA(tip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.hwnd, label);
    EXPECT_EQ(tool.uId, 1001u);
    // Mouse messages reach it through the label without harm.
    MoveTo(3, 3);
    MoveTo(-4, 3);
    EXPECT_FALSE(dialog.link.IsHovering());

    dialog.Destroy();
    EXPECT_FALSE(IsWindow(tip));
}

// A static control in a plain window: no dialog font and no reflection.
class LooseControl : public ::testing::Test {
  protected:
    void SetUp() override {
        parent = CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        control = CreateWindowExA(0, "STATIC", "link", WS_CHILD | WS_VISIBLE, 0, 0, 100, 16, parent,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(control, nullptr);
    }
    void TearDown() override { DestroyWindow(parent); }
    HWND parent = nullptr;
    HWND control = nullptr;
};

TEST_F(LooseControl, WithoutAFontGetsTheDefaultGuiFontUnderlined) {
    ASSERT_EQ(SendMessageA(control, WM_GETFONT, 0, 0), 0);
    LinkLabel link;
    ASSERT_TRUE(link.Attach(control));
    LOGFONTA linkFont{};
    LOGFONTA guiFont{};
    ASSERT_NE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
                         sizeof(linkFont), &linkFont),
              0);
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(guiFont), &guiFont);
    EXPECT_TRUE(linkFont.lfUnderline);
    EXPECT_STREQ(linkFont.lfFaceName, guiFont.lfFaceName);
    EXPECT_EQ(linkFont.lfHeight, guiFont.lfHeight);
}

TEST_F(LooseControl, GetsItsOwnFontAndProcedureBackWhenTheLabelGoesFirst) {
    const LRESULT ownFont = reinterpret_cast<LRESULT>(GetStockObject(ANSI_VAR_FONT));
    SendMessageA(control, WM_SETFONT, static_cast<WPARAM>(ownFont), FALSE);
    const LONG_PTR ownProc = GetWindowLongPtrW(control, GWLP_WNDPROC);
    HFONT underlined = nullptr;
    {
        LinkLabel link;
        ASSERT_TRUE(link.Attach(control));
        underlined = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        EXPECT_NE(reinterpret_cast<LRESULT>(underlined), ownFont);
    }
    EXPECT_EQ(SendMessageA(control, WM_GETFONT, 0, 0), ownFont);
    EXPECT_EQ(GetWindowLongPtrW(control, GWLP_WNDPROC), ownProc);
    EXPECT_EQ(GetObjectType(underlined), 0u) << "the underlined font is deleted with the label";
}

}  // namespace
}  // namespace vesperlin::ui

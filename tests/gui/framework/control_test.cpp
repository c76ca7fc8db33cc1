// Control binding: subclassing, the control's own table, reflection of its notifications by the
// parent dialog, detaching, and the list box and static wrappers on real controls.
#include "framework/control.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/dialog.h"
#include "gui/framework/dialog_template.h"

namespace vesperlin::framework {
namespace {

using testing::DialogTemplate;

constexpr int LabelId = 300;
constexpr int OtherLabelId = 301;
constexpr int ListId = 302;
constexpr UINT Ping = WM_APP + 10;

const DialogTemplate& ControlsTemplate() {
    static const DialogTemplate controls = [] {
        DialogTemplate t(WS_POPUP | WS_CAPTION, 200, 120, "Controls");
        t.AddItem(0x0082, LabelId, SS_LEFT | SS_NOTIFY, 5, 5, 80, 10, "bound label");
        t.AddItem(0x0082, OtherLabelId, SS_LEFT | SS_NOTIFY, 5, 20, 80, 10, "unbound label");
        t.AddItem(0x0083, ListId, LBS_HASSTRINGS | WS_VSCROLL, 5, 35, 150, 60);
        return t;
    }();
    return controls;
}

// A label that answers Ping itself, takes its clicks and chooses its colour.
class ProbeLabel : public Static {
  public:
    std::vector<std::string> calls;
    int attaches = 0;
    HBRUSH brush = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    static const MessageTable messageTable;

  protected:
    const MessageTable& GetMessageTable() const override { return messageTable; }
    void OnAttach() override { ++attaches; }
    void PreTranslateMessage(const MSG& message) override {
        if (message.message == WM_MOUSEMOVE) calls.push_back("pretranslate move");
    }

  private:
    bool OnPing(WindowMessage& message) {
        message.result = 1234;
        return true;
    }
    bool OnCommand(WindowMessage& message) {
        if (HIWORD(message.wParam) != STN_CLICKED) return false;
        calls.push_back("clicked");
        return true;
    }
    bool OnColor(WindowMessage& message) {
        SetTextColor(reinterpret_cast<HDC>(message.wParam), RGB(1, 2, 3));
        message.result = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    static const MessageEntry messageEntries[];
};

const MessageEntry ProbeLabel::messageEntries[] = {
    {Ping, Handler<&ProbeLabel::OnPing>},
    {ReflectedCommand, Handler<&ProbeLabel::OnCommand>},
    {ReflectedCtlColorStatic, Handler<&ProbeLabel::OnColor>},
};
const MessageTable ProbeLabel::messageTable{&Static::messageTable, messageEntries};

// The dialog binds the label and the list, and records the notifications it sees itself.
class ControlsDialog : public Dialog {
  public:
    ControlsDialog() : Dialog(ControlsTemplate().Get()) {}
    ProbeLabel label;
    ListBox list;
    std::vector<WPARAM> commandsSeen;
    static const MessageTable messageTable;

  protected:
    const MessageTable& GetMessageTable() const override { return messageTable; }
    void BindControls() override {
        BindControl(LabelId, label);
        BindControl(ListId, list);
    }

  private:
    bool OnCommand(WindowMessage& message) {
        commandsSeen.push_back(message.wParam);
        return true;
    }
    static const MessageEntry messageEntries[];
};

const MessageEntry ControlsDialog::messageEntries[] = {
    {WM_COMMAND, Handler<&ControlsDialog::OnCommand>},
};
const MessageTable ControlsDialog::messageTable{&Dialog::messageTable, messageEntries};

class BoundControls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dialog.Create());
        labelWindow = dialog.GetItem(LabelId);
        ASSERT_NE(labelWindow, nullptr);
    }
    void TearDown() override { dialog.Destroy(); }
    ControlsDialog dialog;
    HWND labelWindow = nullptr;
};

TEST_F(BoundControls, AreSubclassedAndAnswerFromTheirOwnTable) {
    EXPECT_EQ(dialog.label.Handle(), labelWindow);
    EXPECT_EQ(dialog.label.attaches, 1);
    EXPECT_EQ(Control::FromHandle(labelWindow), &dialog.label);
    EXPECT_EQ(SendMessageA(labelWindow, Ping, 0, 0), 1234);
    // Everything else still reaches the static control's own procedure.
    EXPECT_EQ(dialog.label.GetText(), "bound label");
    SendMessageA(labelWindow, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
    EXPECT_EQ(dialog.label.calls, std::vector<std::string>{"pretranslate move"});
}

TEST_F(BoundControls, GetTheirNotificationsReflectedBeforeTheDialogSeesThem) {
    // A real click: the static control (SS_NOTIFY) tells its parent, which hands it back.
    SendMessageA(labelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageA(labelWindow, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(dialog.label.calls, std::vector<std::string>{"clicked"});
    EXPECT_TRUE(dialog.commandsSeen.empty());

    // A notification the control declines goes on to the dialog's table.
    SendMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(LabelId, STN_DBLCLK),
                 reinterpret_cast<LPARAM>(labelWindow));
    EXPECT_EQ(dialog.commandsSeen, std::vector<WPARAM>{MAKEWPARAM(LabelId, STN_DBLCLK)});
}

TEST_F(BoundControls, ChooseTheirColourThroughTheReflectedCtlColor) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    const LRESULT brush =
        SendMessageA(dialog.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(labelWindow));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(dialog.label.brush));
    EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
    DeleteDC(dc);
}

TEST_F(BoundControls, LeaveUnboundControlsNotificationsToTheDialog) {
    HWND other = dialog.GetItem(OtherLabelId);
    EXPECT_EQ(Control::FromHandle(other), nullptr);
    SendMessageA(other, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ASSERT_EQ(dialog.commandsSeen.size(), 1u);
    EXPECT_EQ(LOWORD(dialog.commandsSeen[0]), OtherLabelId);
    EXPECT_EQ(HIWORD(dialog.commandsSeen[0]), STN_CLICKED);
    EXPECT_TRUE(dialog.label.calls.empty());
}

TEST_F(BoundControls, CannotBeBoundTwice) {
    ProbeLabel second;
    EXPECT_FALSE(second.Attach(labelWindow));
    EXPECT_FALSE(dialog.label.Attach(dialog.GetItem(OtherLabelId)));
    EXPECT_FALSE(second.Attach(nullptr));
    EXPECT_EQ(second.attaches, 0);
}

TEST_F(BoundControls, DetachRestoresTheControlsOwnProcedure) {
    HWND other = dialog.GetItem(OtherLabelId);
    const LONG_PTR ownProc = GetWindowLongPtrW(other, GWLP_WNDPROC);
    {
        ProbeLabel temporary;
        ASSERT_TRUE(temporary.Attach(other));
        EXPECT_NE(GetWindowLongPtrW(other, GWLP_WNDPROC), ownProc);
    }
    EXPECT_EQ(GetWindowLongPtrW(other, GWLP_WNDPROC), ownProc);
    EXPECT_EQ(Control::FromHandle(other), nullptr);
    EXPECT_EQ(SendMessageA(other, Ping, 0, 0), 0);
}

TEST_F(BoundControls, LetGoWhenTheControlWindowIsDestroyed) {
    DestroyWindow(labelWindow);
    EXPECT_EQ(dialog.label.Handle(), nullptr);
    EXPECT_EQ(dialog.label.GetText(), "");
}

// Another subclass on the same control, as a tooltip or a theme would add one: it counts Ping
// and passes everything on.
struct ForeignSubclass {
    explicit ForeignSubclass(UINT_PTR id) : id(id) {}
    UINT_PTR id;
    int pings = 0;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR reference) {
        if (message == Ping) ++reinterpret_cast<ForeignSubclass*>(reference)->pings;
        if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &ForeignSubclass::Proc, id);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    bool Install(HWND window) {
        return SetWindowSubclass(window, &ForeignSubclass::Proc, id,
                                 reinterpret_cast<DWORD_PTR>(this)) != FALSE;
    }
};

TEST_F(BoundControls, ShareTheControlWithOtherSubclassesBeneathAndAbove) {
    HWND other = dialog.GetItem(OtherLabelId);
    ForeignSubclass beneath(7);
    ASSERT_TRUE(beneath.Install(other));
    ProbeLabel probe;
    ASSERT_TRUE(probe.Attach(other));
    ForeignSubclass above(8);
    ASSERT_TRUE(above.Install(other));

    // Ours answers Ping; the one above sees it first, the one beneath never does.
    EXPECT_EQ(Control::FromHandle(other), &probe);
    EXPECT_EQ(SendMessageA(other, Ping, 0, 0), 1234);
    EXPECT_EQ(above.pings, 1);
    EXPECT_EQ(beneath.pings, 0);
    // What ours does not answer goes down the chain to the control itself.
    EXPECT_EQ(probe.GetText(), "unbound label");
    SendMessageA(other, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_EQ(probe.calls, std::vector<std::string>{"clicked"});
    EXPECT_TRUE(dialog.commandsSeen.empty());

    // Unbound from the middle of the chain: the others keep working around the gap.
    probe.Detach();
    EXPECT_EQ(Control::FromHandle(other), nullptr);
    EXPECT_EQ(SendMessageA(other, Ping, 0, 0), 0);
    EXPECT_EQ(above.pings, 2);
    EXPECT_EQ(beneath.pings, 1);
    SendMessageA(other, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_EQ(dialog.commandsSeen.size(), 1u);
    EXPECT_EQ(probe.calls, std::vector<std::string>{"clicked"});

    // And it can be bound again.
    EXPECT_TRUE(probe.Attach(other));
    EXPECT_EQ(SendMessageA(other, Ping, 0, 0), 1234);
    EXPECT_EQ(probe.attaches, 2);
}

TEST_F(BoundControls, LetGoWhenDestroyedUnderAnotherSubclass) {
    ForeignSubclass above(8);
    ASSERT_TRUE(above.Install(labelWindow));
    DestroyWindow(labelWindow);
    EXPECT_EQ(dialog.label.Handle(), nullptr);
    EXPECT_FALSE(IsWindow(labelWindow));
}

TEST(ControlLookup, FindsNoObjectOnWindowsThatAnswerEveryMessage) {
    // A window whose procedure answers anything, even our question, with a non-zero value.
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 1; };
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VesperlinAnswersAll";
    RegisterClassA(&windowClass);
    HWND talkative = CreateWindowExA(0, "VesperlinAnswersAll", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                     nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(talkative, nullptr);
    EXPECT_EQ(Control::FromHandle(talkative), nullptr);
    DestroyWindow(talkative);
}

TEST_F(BoundControls, ListBoxKeepsAndReturnsItsLines) {
    ListBox& list = dialog.list;
    EXPECT_EQ(list.GetCount(), 0);
    const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";
    const std::string longLine(5000, 'x');
    EXPECT_EQ(list.AddString("first"), 0);
    EXPECT_EQ(list.AddString(cyrillic), 1);
    EXPECT_EQ(list.AddString(longLine), 2);
    EXPECT_EQ(list.InsertString(0, "zeroth"), 0);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.GetText(0), "zeroth");
    EXPECT_EQ(list.GetText(2), cyrillic);
    EXPECT_EQ(list.GetText(3), longLine);

    std::string text = "stale";
    EXPECT_FALSE(list.GetText(4, text));
    EXPECT_EQ(text, "");

    EXPECT_EQ(list.DeleteString(0), 3);
    EXPECT_EQ(list.GetText(0), "first");
    list.ResetContent();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(UnboundWrappers, DoNothingAndReportFailure) {
    ListBox list;
    EXPECT_EQ(list.GetCount(), LB_ERR);
    EXPECT_EQ(list.AddString("x"), LB_ERR);
    std::string text;
    EXPECT_FALSE(list.GetText(0, text));
    Static label;
    EXPECT_FALSE(label.SetText("x"));
    EXPECT_EQ(label.GetText(), "");
}

}  // namespace
}  // namespace vesperlin::framework

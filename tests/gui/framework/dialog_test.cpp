// Dialogs: the modal run, message tables searched derived first, the window procedure hook,
// and what happens when a handler throws.
#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/application.h"
#include "gui/framework/dialog_template.h"

namespace vesperlin::framework {
namespace {

using testing::DialogTemplate;

constexpr UINT BaseOnly = WM_APP + 1;     // handled by the base table only
constexpr UINT Both = WM_APP + 2;         // handled by both tables
constexpr UINT Declined = WM_APP + 3;     // the derived handler declines, the base answers
constexpr UINT Throws = WM_APP + 4;       // the derived handler throws
constexpr UINT Unhandled = WM_APP + 5;    // in no table
constexpr UINT Intercepted = WM_APP + 6;  // caught by the window procedure override

const DialogTemplate& PlainTemplate() {
    static const DialogTemplate plain(WS_POPUP | WS_CAPTION | WS_SYSMENU, 120, 60, "Test dialog");
    return plain;
}

// A base dialog with a table of its own, and a derived one chained to it.
class BaseDialog : public Dialog {
  public:
    using Dialog::Dialog;
    std::vector<std::string> calls;
    static const MessageTable messageTable;

  protected:
    const MessageTable& GetMessageTable() const override { return messageTable; }

  private:
    bool OnBaseOnly(WindowMessage& message) {
        calls.push_back("base only");
        message.result = 11;
        return true;
    }
    bool OnBoth(WindowMessage& message) {
        calls.push_back("base both");
        message.result = 12;
        return true;
    }
    bool OnDeclined(WindowMessage& message) {
        calls.push_back("base declined");
        message.result = 13;
        return true;
    }
    static const MessageEntry messageEntries[];
};

const MessageEntry BaseDialog::messageEntries[] = {
    {BaseOnly, Handler<&BaseDialog::OnBaseOnly>},
    {Both, Handler<&BaseDialog::OnBoth>},
    {Declined, Handler<&BaseDialog::OnDeclined>},
};
const MessageTable BaseDialog::messageTable{&Dialog::messageTable, messageEntries};

class DerivedDialog : public BaseDialog {
  public:
    using BaseDialog::BaseDialog;
    UINT postOnInit = 0;
    WPARAM postWParam = 0;
    int initialisations = 0;
    int oks = 0;
    int cancels = 0;
    static const MessageTable messageTable;

  protected:
    const MessageTable& GetMessageTable() const override { return messageTable; }
    BOOL OnInitDialog() override {
        BaseDialog::OnInitDialog();
        ++initialisations;
        if (postOnInit != 0) PostMessageA(window, postOnInit, postWParam, 0);
        return TRUE;
    }
    void OnOK() override {
        ++oks;
        BaseDialog::OnOK();
    }
    void OnCancel() override {
        ++cancels;
        BaseDialog::OnCancel();
    }
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == Intercepted) {
            calls.push_back("intercepted");
            SetWindowLongPtrA(window, DWLP_MSGRESULT, 77);
            return TRUE;
        }
        return BaseDialog::WindowProc(message, wParam, lParam);
    }

  private:
    bool OnBoth(WindowMessage& message) {
        calls.push_back("derived both");
        message.result = 22;
        return true;
    }
    bool OnDeclined(WindowMessage&) {
        calls.push_back("derived declined");
        return false;
    }
    bool OnThrows(WindowMessage&) { throw std::runtime_error("handler failure"); }
    static const MessageEntry messageEntries[];
};

const MessageEntry DerivedDialog::messageEntries[] = {
    {Both, Handler<&DerivedDialog::OnBoth>},
    {Declined, Handler<&DerivedDialog::OnDeclined>},
    {Throws, Handler<&DerivedDialog::OnThrows>},
};
const MessageTable DerivedDialog::messageTable{&BaseDialog::messageTable, messageEntries};

TEST(ModalDialog, EndsWithIdOkWhenOkIsPosted) {
    DerivedDialog dialog(PlainTemplate().Get());
    dialog.postOnInit = WM_COMMAND;
    dialog.postWParam = MAKEWPARAM(IDOK, BN_CLICKED);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.initialisations, 1);
    EXPECT_EQ(dialog.oks, 1);
    EXPECT_EQ(dialog.cancels, 0);
    EXPECT_EQ(dialog.Handle(), nullptr) << "the handle goes with the window";
}

TEST(ModalDialog, EndsWithIdCancelWhenCancelOrCloseIsPosted) {
    DerivedDialog cancelled(PlainTemplate().Get());
    cancelled.postOnInit = WM_COMMAND;
    cancelled.postWParam = MAKEWPARAM(IDCANCEL, BN_CLICKED);
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    EXPECT_EQ(cancelled.cancels, 1);

    DerivedDialog closed(PlainTemplate().Get());
    closed.postOnInit = WM_CLOSE;
    EXPECT_EQ(closed.DoModal(), IDCANCEL);
    EXPECT_EQ(closed.cancels, 1);
    EXPECT_EQ(closed.oks, 0);
}

TEST(ModalDialog, RunsTwiceFromTheSameObject) {
    DerivedDialog dialog(PlainTemplate().Get());
    dialog.postOnInit = WM_CLOSE;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.initialisations, 2);
}

TEST(ModalDialog, ComesFromTheResourceHandleAndFailsWithoutTemplate) {
    DerivedDialog fromResources(901);
    fromResources.postOnInit = WM_COMMAND;
    fromResources.postWParam = MAKEWPARAM(IDOK, BN_CLICKED);
    EXPECT_EQ(fromResources.DoModal(), IDOK);

    DerivedDialog missing(4711);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(missing.initialisations, 0);

    // With another module as the resource handle the template is looked for there alone.
    Application app;
    app.SetResourceHandle(GetModuleHandleA("kernel32.dll"));
    DerivedDialog elsewhere(901);
    EXPECT_EQ(elsewhere.DoModal(), -1);
}

class MessageTables : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dialog.Create()); }
    void TearDown() override { dialog.Destroy(); }
    DerivedDialog dialog{PlainTemplate().Get()};
};

TEST_F(MessageTables, SearchTheDerivedTableFirstThenTheBase) {
    EXPECT_EQ(SendMessageA(dialog.Handle(), Both, 0, 0), 22);
    EXPECT_EQ(SendMessageA(dialog.Handle(), BaseOnly, 0, 0), 11);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"derived both", "base only"}));
}

TEST_F(MessageTables, PassADeclinedMessageOnToTheBase) {
    EXPECT_EQ(SendMessageA(dialog.Handle(), Declined, 0, 0), 13);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"derived declined", "base declined"}));
}

TEST_F(MessageTables, LeaveUnknownMessagesAndThrowingHandlersToTheDefault) {
    EXPECT_EQ(SendMessageA(dialog.Handle(), Unhandled, 0, 0), 0);
    EXPECT_EQ(SendMessageA(dialog.Handle(), Throws, 0, 0), 0);
    // The dialog still works after the exception.
    EXPECT_EQ(SendMessageA(dialog.Handle(), Both, 0, 0), 22);
}

TEST_F(MessageTables, ComeAfterTheWindowProcedureOverride) {
    EXPECT_EQ(SendMessageA(dialog.Handle(), Intercepted, 0, 0), 77);
    EXPECT_EQ(dialog.calls, std::vector<std::string>{"intercepted"});
}

}  // namespace
}  // namespace vesperlin::framework

// The small services: wait cursor, message box routing and the tooltip.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/message_box.h"
#include "framework/tool_tip.h"
#include "framework/wait_cursor.h"

namespace vesperlin::framework {
namespace {

HCURSOR SystemCursor(int id) {
    return LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
}

TEST(WaitCursor, NestsAndTheOutermostRestoresThePreviousCursor) {
    const HCURSOR arrow = SystemCursor(32512);  // IDC_ARROW
    const HCURSOR wait = SystemCursor(32514);   // IDC_WAIT
    SetCursor(arrow);
    {
        WaitCursor outer;
        EXPECT_EQ(GetCursor(), wait);
        EXPECT_EQ(WaitCursor::Depth(), 1);
        {
            WaitCursor inner;
            EXPECT_EQ(WaitCursor::Depth(), 2);
            SetCursor(arrow);  // something in between changed it
        }
        EXPECT_EQ(GetCursor(), wait) << "an inner wait cursor must not end the outer one";
        SetCursor(arrow);
        outer.Restore();
        EXPECT_EQ(GetCursor(), wait);
    }
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(WaitCursor::Depth(), 0);
}

class RecordedMessages : public ::testing::Test {
  protected:
    void SetUp() override {
        previous = SetMessageBoxFunction(
            [this](HWND owner, const std::string& text) { shown.emplace_back(owner, text); });
    }
    void TearDown() override { SetMessageBoxFunction(std::move(previous)); }
    MessageBoxFunction previous;
    std::vector<std::pair<HWND, std::string>> shown;
};

TEST_F(RecordedMessages, ShowMessageGoesToTheReplacementWithItsOwner) {
    HWND owner = GetDesktopWindow();
    ShowMessage(owner, "File has no length.");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, owner);
    EXPECT_EQ(shown[0].second, "File has no length.");
}

TEST_F(RecordedMessages, MessagesSeamShowsThroughTheSameFunction) {
    MessageBoxMessages messages;
    sysinfo::Messages& seam = messages;
    seam.Show("Your are not an Administrator.");
    HWND owner = GetDesktopWindow();
    messages.SetOwner(owner);
    seam.Show("second");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0],
              std::make_pair(HWND{nullptr}, std::string("Your are not an Administrator.")));
    EXPECT_EQ(shown[1], std::make_pair(owner, std::string("second")));
}

TEST_F(RecordedMessages, ReplacingHandsBackTheCurrentFunction) {
    int others = 0;
    MessageBoxFunction mine = SetMessageBoxFunction([&](HWND, const std::string&) { ++others; });
    ShowMessage(nullptr, "to the other");
    SetMessageBoxFunction(std::move(mine));
    ShowMessage(nullptr, "to the recorder");
    EXPECT_EQ(others, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, "to the recorder");
}

TEST(ToolTip, HoldsItsToolAndGoesWithItsOwner) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    HWND tipWindow = nullptr;
    {
        ToolTip tip;
        EXPECT_FALSE(tip.AddTool(owner, 1, RECT{0, 0, 10, 10}, ""));
        ASSERT_TRUE(tip.Create(owner, 0x01));  // TTS_ALWAYSTIP
        tipWindow = tip.Handle();
        EXPECT_TRUE(tip.AddTool(owner, 1001, RECT{0, 0, 100, 20}, ""));
        EXPECT_EQ(tip.GetToolCount(), 1);
        EXPECT_EQ(GetWindow(tipWindow, GW_OWNER), owner);
        MSG move{owner, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), static_cast<DWORD>(GetMessageTime()),
                 {5, 5}};
        tip.RelayEvent(move);  // must be harmless
    }
    EXPECT_FALSE(IsWindow(tipWindow));
    DestroyWindow(owner);
}

}  // namespace
}  // namespace vesperlin::framework

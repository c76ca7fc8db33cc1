// The windowing owners: a font goes with its owner, and a window's device context is handed
// back with the objects it had selected.
#include "base/win32/window_owners.h"

#include <gtest/gtest.h>

#include <utility>

namespace vesperlin::base {
namespace {

UniqueFont UnderlinedGuiFont() {
    LOGFONTA description{};
    if (GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(description), &description) !=
        static_cast<int>(sizeof(description)))
        return UniqueFont();
    description.lfUnderline = TRUE;
    return UniqueFont(CreateFontIndirectA(&description));
}

TEST(UniqueFont, OwnsItsHandleAndDeletesIt) {
    HFONT handle = nullptr;
    {
        UniqueFont font = UnderlinedGuiFont();
        ASSERT_TRUE(font);
        handle = font.get();
        EXPECT_EQ(GetObjectType(handle), static_cast<DWORD>(OBJ_FONT));
        LOGFONTA copy{};
        GetObjectA(handle, sizeof(copy), &copy);
        EXPECT_TRUE(copy.lfUnderline);

        UniqueFont moved(std::move(font));
        EXPECT_FALSE(font);
        EXPECT_EQ(moved.get(), handle);
    }
    EXPECT_EQ(GetObjectType(handle), 0u) << "the font must be deleted with its owner";
}

// A window with a device context of its own (CS_OWNDC): what is selected into it outlives
// ReleaseDC, so a selection left behind would show in the next GetDC.
class OwnDcWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VesperlinOwnDc";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "VesperlinOwnDc", "", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        HDC dc = GetDC(window);
        ASSERT_NE(dc, nullptr);
        ownFont = GetCurrentObject(dc, OBJ_FONT);
        ReleaseDC(window, dc);
        ASSERT_NE(ownFont, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }

    HGDIOBJ CurrentFont() {
        HDC dc = GetDC(window);
        const HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
        ReleaseDC(window, dc);
        return font;
    }

    HWND window = nullptr;
    HGDIOBJ ownFont = nullptr;
};

TEST_F(OwnDcWindow, GetsItsFirstSelectionBackWhenTheContextGoes) {
    const UniqueFont first = UnderlinedGuiFont();
    const UniqueFont second = UnderlinedGuiFont();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    {
        WindowDc dc(window);
        ASSERT_TRUE(dc);
        EXPECT_TRUE(dc.Select(first.get()));
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), first.get());
        EXPECT_TRUE(dc.Select(second.get()));
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), second.get());
    }
    EXPECT_EQ(CurrentFont(), ownFont);
}

TEST_F(OwnDcWindow, KeepsItsObjectsWhenNothingCouldBeSelected) {
    {
        WindowDc dc(window);
        ASSERT_TRUE(dc);
        EXPECT_FALSE(dc.Select(nullptr));
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), ownFont);
    }
    EXPECT_EQ(CurrentFont(), ownFont);
}

TEST(WindowDc, OfNoWindowIsTheScreensAndSelectsNothingWithoutAContext) {
    // GetDC(null) lends the screen's context; a window that is gone lends none.
    WindowDc screen(nullptr);
    EXPECT_TRUE(screen);
    HWND gone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    WindowDc none(gone);
    EXPECT_FALSE(none);
    EXPECT_FALSE(none.Select(GetStockObject(DEFAULT_GUI_FONT)));
}

}  // namespace
}  // namespace vesperlin::base

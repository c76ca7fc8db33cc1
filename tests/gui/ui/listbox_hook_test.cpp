// The list box class hook on real list boxes: the horizontal extent that LB_GETHORIZONTALEXTENT
// reports follows the widest item as strings come and go and as the font changes.
#include "ui/listbox_hook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vesperlin::ui {
namespace {

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

HWND CreateParent() {
    static const ATOM atom = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = Instance();
        windowClass.lpszClassName = "VesperlinHookTestParent";
        return RegisterClassA(&windowClass);
    }();
    if (atom == 0) return nullptr;
    return CreateWindowExA(0, "VesperlinHookTestParent", "parent", WS_POPUP, 0, 0, 400, 300,
                           nullptr, nullptr, Instance(), nullptr);
}

HWND CreateListBox(HWND parent, DWORD style, int width = 200) {
    return CreateWindowExA(0, "LISTBOX", nullptr, WS_CHILD | WS_VISIBLE | style, 0, 0, width, 120,
                           parent, nullptr, Instance(), nullptr);
}

// A list box made before the hook, and the hook's first installation, both before any test.
class HookEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        parent = CreateParent();
        earlierList = CreateListBox(parent, LBS_HASSTRINGS);
        firstInstall = InstallListBoxHook(Instance());
    }
    HWND parent = nullptr;
    HWND earlierList = nullptr;
    int firstInstall = -1;
};

HookEnvironment* const environment =
    static_cast<HookEnvironment*>(::testing::AddGlobalTestEnvironment(new HookEnvironment));

LRESULT Extent(HWND list) {
    return SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0);
}

LRESULT Add(HWND list, const std::string& text) {
    return SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The width of a line as the sum of its characters' advance widths in the font, on the list
// box's own device context: measured character by character, not with the whole-string extent
// call the hook makes, so that a hook measuring the wrong text, font or length is caught.
int TextWidth(HWND list, HFONT font, const std::string& text) {
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, font);
    int width = 0;
    for (wchar_t unit : wide) {
        INT advance = 0;
        if (!GetCharWidth32W(dc, unit, unit, &advance))
            ADD_FAILURE() << "no width for U+" << std::hex << static_cast<unsigned>(unit);
        width += advance;
    }
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    return width;
}

int AverageWidth(HWND list, HFONT font) {
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    return metrics.tmAveCharWidth;
}

int ClientWidth(HWND list) {
    RECT client{};
    GetClientRect(list, &client);
    return client.right - client.left;
}

class HookedListBox : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(environment->firstInstall, 1);
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        LOGFONTA description{};
        GetObjectA(font, sizeof(description), &description);
        description.lfHeight *= 2;
        description.lfWidth = 0;
        bigFont = CreateFontIndirectA(&description);
        ASSERT_NE(bigFont, nullptr);
    }
    void TearDown() override {
        if (list != nullptr) DestroyWindow(list);
        DeleteObject(bigFont);
    }
    // A hooked list box with the GUI font; widths below are measured in it.
    void Make(DWORD style) {
        list = CreateListBox(environment->parent, style);
        ASSERT_NE(list, nullptr);
        SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        clientWidth = ClientWidth(list);
        margin = AverageWidth(list, font);
        ASSERT_GT(clientWidth, 0);
    }
    int Width(const std::string& text) const { return TextWidth(list, font, text); }
    // A text wider than the client area by the given number of characters.
    std::string Wide(char letter, int extra) const {
        std::string text(1, letter);
        while (Width(text) <= clientWidth) text += letter;
        return text + std::string(static_cast<std::size_t>(extra), letter);
    }

    HFONT font = nullptr;
    HFONT bigFont = nullptr;
    HWND list = nullptr;
    int clientWidth = 0;
    int margin = 0;
};

TEST(ListBoxHook, InstallsOnceForTheProcess) {
    EXPECT_EQ(environment->firstInstall, 1);
    EXPECT_EQ(InstallListBoxHook(Instance()), 0);
}

// The list box hides a scroll bar it does not need by taking WS_HSCROLL off its style again, so
// the scroll bar is looked for once an item is wider than the list box.
bool ShowsHorizontalScrollBar(HWND list) {
    return (GetWindowLongA(list, GWL_STYLE) & WS_HSCROLL) != 0;
}

TEST(ListBoxHook, LeavesListBoxesCreatedBeforeItAlone) {
    HWND earlier = environment->earlierList;
    ASSERT_NE(earlier, nullptr);
    EXPECT_EQ(GetPropA(earlier, ListBoxExtentProperty), nullptr);
    Add(earlier, std::string(300, 'W'));
    EXPECT_EQ(Extent(earlier), 0);
    // Even a scroll range set by hand shows no scroll bar: it was not asked for.
    SendMessageA(earlier, LB_SETHORIZONTALEXTENT, 5000, 0);
    EXPECT_FALSE(ShowsHorizontalScrollBar(earlier));
}

TEST(ListBoxHook, GivesEveryNewListBoxAHorizontalScrollBarAndARecord) {
    HWND without = CreateListBox(environment->parent, LBS_HASSTRINGS);
    HWND with = CreateListBox(environment->parent, LBS_HASSTRINGS | WS_HSCROLL);
    ASSERT_NE(without, nullptr);
    ASSERT_NE(with, nullptr);
    EXPECT_NE(GetPropA(without, ListBoxExtentProperty), nullptr);
    EXPECT_NE(GetPropA(with, ListBoxExtentProperty), nullptr);
    for (HWND list : {without, with}) {
        Add(list, std::string(300, 'W'));
        EXPECT_GT(Extent(list), 0);
        EXPECT_TRUE(ShowsHorizontalScrollBar(list));
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_RANGE;
        ASSERT_TRUE(GetScrollInfo(list, SB_HORZ, &info));
        EXPECT_GT(info.nMax, 200);
    }
    DestroyWindow(without);
    DestroyWindow(with);
}

TEST_F(HookedListBox, ExtentFollowsTheWidestItemAsItemsComeAndGo) {
    Make(LBS_HASSTRINGS);
    EXPECT_EQ(Extent(list), 0);
    Add(list, "short line");
    EXPECT_EQ(Extent(list), 0) << "an item that fits needs no scroll range";

    const std::string wide = Wide('m', 3);
    const std::string wider = Wide('m', 12);
    const std::string widest = Wide('W', 20);
    Add(list, wide);
    EXPECT_EQ(Extent(list), Width(wide) + margin);
    Add(list, widest);
    EXPECT_EQ(Extent(list), Width(widest) + margin);
    Add(list, wider);
    EXPECT_EQ(Extent(list), Width(widest) + margin) << "a narrower item changes nothing";

    SendMessageA(list, LB_DELETESTRING, 0, 0);  // "short line"
    EXPECT_EQ(Extent(list), Width(widest) + margin);
    SendMessageA(list, LB_DELETESTRING, 1, 0);  // the widest
    EXPECT_EQ(Extent(list), Width(wider) + margin);
    SendMessageA(list, LB_DELETESTRING, 1, 0);  // "wider": "wide" is left
    EXPECT_EQ(Extent(list), Width(wide) + margin);
    // (Deleting the only item is no case here: the list box resets itself then.)

    Add(list, widest);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(Extent(list), 0);
}

TEST_F(HookedListBox, DeletingTheWidestSetsTheMarginEvenWhenTheRestFits) {
    Make(LBS_HASSTRINGS);
    Add(list, "fits");
    Add(list, Wide('x', 5));
    SendMessageA(list, LB_DELETESTRING, 1, 0);
    EXPECT_EQ(Extent(list), Width("fits") + margin);
}

TEST_F(HookedListBox, SortedListBoxRemovesTheWidthOfTheItemReallyDeleted) {
    Make(LBS_HASSTRINGS | LBS_SORT);
    const std::string zWide = "z" + Wide('m', 2);
    const std::string aWidest = "a" + Wide('W', 10);
    Add(list, zWide);
    EXPECT_EQ(Add(list, aWidest), 0) << "sorts first";
    Add(list, "b short");
    EXPECT_EQ(Extent(list), Width(aWidest) + margin);
    // Index 0 is the widest item, although it was added second.
    SendMessageA(list, LB_DELETESTRING, 0, 0);
    EXPECT_EQ(Extent(list), Width(zWide) + margin);
}

TEST_F(HookedListBox, InsertingAtTheEndRecordsTheWidthWhereTheListBoxPutIt) {
    Make(LBS_HASSTRINGS);
    Add(list, "one");
    const std::string appended = Wide('W', 4);
    EXPECT_EQ(SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>(appended.c_str())),
              1);
    EXPECT_EQ(Extent(list), Width(appended) + margin);
    SendMessageA(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("zero"));
    SendMessageA(list, LB_DELETESTRING, 2, 0);  // the appended item, now at 2
    EXPECT_EQ(Extent(list), std::max(Width("one"), Width("zero")) + margin);
}

TEST_F(HookedListBox, RefusedDeletesLeaveTheWidthsAlone) {
    Make(LBS_HASSTRINGS);
    const std::string widest = Wide('W', 6);
    Add(list, widest);
    Add(list, "x");
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, 7, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(-1), 0), LB_ERR);
    EXPECT_EQ(Extent(list), Width(widest) + margin);
    // The bookkeeping still matches the items: deleting item 1 keeps the widest.
    SendMessageA(list, LB_DELETESTRING, 1, 0);
    EXPECT_EQ(Extent(list), Width(widest) + margin);
}

TEST_F(HookedListBox, FontChangeMeasuresEveryItemAgain) {
    Make(LBS_HASSTRINGS);
    // Fits in the GUI font, not in the font of twice the height.
    std::string text = "m";
    while (TextWidth(list, bigFont, text) <= clientWidth) text += "m";
    ASSERT_LE(Width(text), clientWidth);
    Add(list, text);
    Add(list, "ab");
    EXPECT_EQ(Extent(list), 0);
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(bigFont), TRUE);
    EXPECT_EQ(Extent(list), TextWidth(list, bigFont, text) + AverageWidth(list, bigFont));
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(Extent(list), 0) << "the widest fits again";
}

TEST_F(HookedListBox, ResizingLeavesTheExtentAndMovesTheThreshold) {
    Make(LBS_HASSTRINGS);
    const std::string wide = Wide('m', 2);
    Add(list, wide);
    const LRESULT before = Extent(list);
    MoveWindow(list, 0, 0, 100, 120, TRUE);
    EXPECT_EQ(Extent(list), before);
    // Narrower now: a new widest item that would have fit before sets the extent.
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    const std::string medium = "mmmmmmmmmmmmmmmm";
    ASSERT_GT(Width(medium), ClientWidth(list));
    ASSERT_LT(Width(medium), clientWidth);
    Add(list, medium);
    EXPECT_EQ(Extent(list), Width(medium) + margin);
}

TEST_F(HookedListBox, LongAndNonLatinItemsAreMeasuredWhole) {
    Make(LBS_HASSTRINGS);
    const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ";
    std::string line;
    for (int i = 0; i < 80; ++i) line += cyrillic;  // far past 550 characters
    Add(list, line);
    EXPECT_EQ(Extent(list), Width(line) + margin);
    // Measuring every item again reads the text back from the list box.
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(bigFont), TRUE);
    EXPECT_EQ(Extent(list), TextWidth(list, bigFont, line) + AverageWidth(list, bigFont));
}

TEST_F(HookedListBox, OwnerDrawnListBoxesWithoutStringsAreNotRead) {
    Make(LBS_OWNERDRAWFIXED);
    // Item data, not text: reading it as a string would fault.
    EXPECT_EQ(SendMessageA(list, LB_ADDSTRING, 0, 0x1234), 0);
    EXPECT_EQ(SendMessageA(list, LB_INSERTSTRING, 0, 0x10), 0);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
    SendMessageA(list, LB_DELETESTRING, 0, 0);
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(bigFont), TRUE);
    EXPECT_EQ(Extent(list), 0);
}

TEST_F(HookedListBox, ItemsFromOtherMessagesGetNoWidth) {
    Make(LBS_HASSTRINGS);
    // LB_DIR adds file names; the hook does not see them as items with widths.
    SendMessageA(list, LB_DIR, DDL_DRIVES | DDL_EXCLUSIVE, reinterpret_cast<LPARAM>("*"));
    const LRESULT drives = SendMessageA(list, LB_GETCOUNT, 0, 0);
    const std::string wide = Wide('W', 3);
    EXPECT_EQ(Add(list, wide), drives);
    EXPECT_EQ(Extent(list), Width(wide) + margin);
    SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(drives), 0);
    EXPECT_EQ(Extent(list), margin) << "only the added item had a width";
}

}  // namespace
}  // namespace vesperlin::ui

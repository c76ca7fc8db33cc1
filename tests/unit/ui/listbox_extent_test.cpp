// The list box width bookkeeping, driven through a scripted list box: text widths are the
// number of characters times the font's character width, so every figure below is easy to
// follow by hand.
#include "ui/listbox_extent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vesperlin::ui {
namespace {

// A font handle here is its character width in pixels; null stands for the default font.
FontHandle FontOfWidth(std::uintptr_t width) {
    return reinterpret_cast<FontHandle>(width);
}
constexpr std::int32_t DefaultCharWidth = 7;

class ScriptedListBox : public ListBoxPort {
  public:
    std::vector<std::string> items;
    std::vector<std::int32_t> extentsSent;
    int clears = 0;
    int measurements = 0;

    std::int32_t CharWidth(FontHandle font) const {
        return font == nullptr ? DefaultCharWidth
                               : static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(font));
    }
    std::int32_t MeasureText(FontHandle font, const std::string& text) override {
        ++measurements;
        return CharWidth(font) * static_cast<std::int32_t>(text.size());
    }
    // A distinct margin per font, so that tests see which font's margin was used.
    std::int32_t AverageCharWidth(FontHandle font) override { return CharWidth(font) + 1; }
    bool GetItemText(std::int32_t index, std::string& text) override {
        if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return false;
        text = items[static_cast<std::size_t>(index)];
        return true;
    }
    void SetHorizontalExtent(std::int32_t extent) override { extentsSent.push_back(extent); }
    void ClearHorizontalExtent() override { ++clears; }
};

// A list box of the given client width whose font has a 10-pixel character (margin 11).
class ListBoxExtent : public ::testing::Test {
  protected:
    void SetUp() override {
        state.RecordClientRect({0, 0, 100, 50});
        state.RemeasureAllItems(box, FontOfWidth(10));
        box.extentsSent.clear();
    }
    // Appends like an unsorted LB_ADDSTRING: the list box answers the new item's index.
    void Add(const std::string& text) {
        box.items.push_back(text);
        state.RecordAddedItem(box, text, static_cast<std::intptr_t>(box.items.size() - 1));
    }
    // Adds like a sorted LB_ADDSTRING: the item lands at its sorted position.
    void AddSorted(const std::string& text) {
        auto at = box.items.begin();
        while (at != box.items.end() && *at < text) ++at;
        const auto index = at - box.items.begin();
        box.items.insert(at, text);
        state.RecordInsertedItem(box, text, index);
    }
    void Delete(std::intptr_t index) {
        state.ForgetItem(box, index);
        if (index >= 0 && static_cast<std::size_t>(index) < box.items.size())
            box.items.erase(box.items.begin() + index);
    }
    std::vector<std::int32_t> Sent() { return std::exchange(box.extentsSent, {}); }

    ScriptedListBox box;
    ListBoxExtentState state;
};

using Extents = std::vector<std::int32_t>;

TEST_F(ListBoxExtent, AddsSetTheExtentOnlyForANewWidestItemWiderThanTheClientArea) {
    Add("abcd");  // 40: fits the client area
    EXPECT_EQ(Sent(), Extents{});
    Add("abcdefghij");  // 100: as wide as the client area still fits
    EXPECT_EQ(Sent(), Extents{});
    Add("abcdefghijkl");  // 120: the first item wider than the client area
    EXPECT_EQ(Sent(), Extents{120 + 11});
    Add("abcdefghijklmn");  // 140: wider again
    EXPECT_EQ(Sent(), Extents{140 + 11});
    Add("ABCDEFGHIJKLMN");  // as wide as the widest: nothing
    Add("xy");              // narrower: nothing
    EXPECT_EQ(Sent(), Extents{});
    EXPECT_EQ(state.itemWidths, (Extents{40, 100, 120, 140, 140, 20}));
    EXPECT_EQ(state.widestWidth, 140);
}

TEST_F(ListBoxExtent, DeletingAnotherItemLeavesTheExtentAlone) {
    Add("abcdefghijkl");  // 120
    Add("abc");           // 30
    Sent();
    Delete(1);
    EXPECT_EQ(Sent(), Extents{});
    EXPECT_EQ(state.itemWidths, Extents{120});
    EXPECT_EQ(state.widestWidth, 120);
}

TEST_F(ListBoxExtent, DeletingTheWidestRecomputesFromStoredWidthsEvenWhenItNowFits) {
    Add("abcde");            // 50
    Add("abcdefghijklmno");  // 150
    Add("abcdefg");          // 70
    Sent();
    const int measured = box.measurements;
    Delete(1);
    EXPECT_EQ(Sent(), Extents{70 + 11});  // sent although 70 fits the client area
    EXPECT_EQ(state.widestWidth, 70);
    EXPECT_EQ(state.itemWidths, (Extents{50, 70}));
    EXPECT_EQ(box.measurements, measured) << "no text is measured again on a delete";
}

TEST_F(ListBoxExtent, DeletingTheOnlyItemLeavesTheMarginAsExtent) {
    Add("abcdefghijkl");
    Sent();
    Delete(0);
    EXPECT_EQ(Sent(), Extents{0 + 11});
    EXPECT_EQ(state.widestWidth, 0);
    EXPECT_TRUE(state.itemWidths.empty());
}

TEST_F(ListBoxExtent, DeletingOneOfTwoEquallyWideItemsKeepsTheWidestAndStillSends) {
    Add("abcdefghijkl");
    Add("ABCDEFGHIJKL");
    Add("ab");
    Sent();
    Delete(0);
    EXPECT_EQ(Sent(), Extents{120 + 11});
    EXPECT_EQ(state.widestWidth, 120);
    Delete(0);
    EXPECT_EQ(Sent(), Extents{20 + 11});
}

TEST_F(ListBoxExtent, ResetForgetsEveryWidthAndClearsTheExtent) {
    Add("abcdefghijkl");
    Add("abc");
    state.ForgetAllItems(box);
    box.items.clear();
    EXPECT_EQ(box.clears, 1);
    EXPECT_TRUE(state.itemWidths.empty());
    EXPECT_EQ(state.widestWidth, 0);
    // The next wide item counts as a new widest again.
    Sent();
    Add("abcdefghijk");
    EXPECT_EQ(Sent(), Extents{110 + 11});
}

TEST_F(ListBoxExtent, SortedAddsRecordWidthsAtTheReportedPositions) {
    AddSorted("m-long-item-text");  // 160
    AddSorted("a");                 // 10, lands before it
    AddSorted("z-mid-item");        // 100, lands last
    AddSorted("b-xx");              // 40, lands second
    EXPECT_EQ(state.itemWidths, (Extents{10, 40, 160, 100}));
    Sent();
    // Deleting by index removes the width of the item that is really there.
    Delete(2);  // the 160-pixel item
    EXPECT_EQ(Sent(), Extents{100 + 11});
    EXPECT_EQ(state.itemWidths, (Extents{10, 40, 100}));
}

TEST_F(ListBoxExtent, InsertsGoWhereTheListBoxPutThem) {
    Add("aaaa");  // 40
    Add("bb");    // 20
    // LB_INSERTSTRING at 0 moves the others up.
    state.RecordInsertedItem(box, "c", 0);
    EXPECT_EQ(state.itemWidths, (Extents{10, 40, 20}));
    // LB_INSERTSTRING at -1 appends: the list box reports the real index, 3.
    state.RecordInsertedItem(box, "ddddd", 3);
    EXPECT_EQ(state.itemWidths, (Extents{10, 40, 20, 50}));
}

TEST_F(ListBoxExtent, ItemsWithoutAnEntryLeaveZeroWidthGaps) {
    // Two items arrived by other messages (LB_DIR, say): the next add is reported at index 2.
    state.RecordAddedItem(box, "abc", 2);
    EXPECT_EQ(state.itemWidths, (Extents{0, 0, 30}));
    state.RecordInsertedItem(box, "ab", 5);
    EXPECT_EQ(state.itemWidths, (Extents{0, 0, 30, 0, 0, 20}));
    EXPECT_EQ(state.widestWidth, 30);
}

TEST_F(ListBoxExtent, RefusedAddsAndOutOfRangeDeletesChangeNothing) {
    Add("abcdefghijkl");  // 120
    Add("abc");
    Sent();
    const int measured = box.measurements;
    state.RecordAddedItem(box, "abcdefghijklmnopqrst", -1);     // LB_ERR
    state.RecordInsertedItem(box, "abcdefghijklmnopqrst", -2);  // LB_ERRSPACE
    EXPECT_EQ(box.measurements, measured);
    state.ForgetItem(box, 2);
    state.ForgetItem(box, 1000);
    state.ForgetItem(box, -1);
    EXPECT_EQ(Sent(), Extents{});
    EXPECT_EQ(state.itemWidths, (Extents{120, 30}));
    EXPECT_EQ(state.widestWidth, 120);
}

TEST_F(ListBoxExtent, FontChangeRemeasuresEveryRecordedItem) {
    Add("abcdef");    // 60
    Add("abcdefgh");  // 80: both fit
    Add("ab");
    Sent();
    state.RemeasureAllItems(box, FontOfWidth(20));  // 120, 160, 40 with margin 21
    EXPECT_EQ(state.itemWidths, (Extents{120, 160, 40}));
    EXPECT_EQ(state.widestWidth, 160);
    EXPECT_EQ(state.averageCharWidth, 21);
    EXPECT_EQ(state.font, FontOfWidth(20));
    const Extents sent = Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 160 + 21);

    // Back to a small font: the widest fits, so the extent goes to 0.
    state.RemeasureAllItems(box, FontOfWidth(5));
    EXPECT_EQ(state.itemWidths, (Extents{30, 40, 10}));
    EXPECT_EQ(Sent(), Extents{0});
}

TEST_F(ListBoxExtent, FontChangeMeasuresTheRecordedItemsNotTheListBoxItems) {
    Add("abcd");
    box.items.push_back("an item the bookkeeping never saw, wider than anything");
    state.RemeasureAllItems(box, FontOfWidth(10));
    EXPECT_EQ(state.itemWidths, Extents{40});
    EXPECT_EQ(state.widestWidth, 40);
}

TEST_F(ListBoxExtent, ResizingNeverSendsAndOnlyMovesTheThreshold) {
    Add("abcdefgh");  // 80
    Sent();
    state.RecordClientRect({10, 0, 60, 40});  // narrower: 50
    EXPECT_EQ(state.clientWidth, 50);
    EXPECT_EQ(Sent(), Extents{});
    // Wider than the new client area but not than the widest: no scroll range yet.
    Add("abcdefg");  // 70
    EXPECT_EQ(Sent(), Extents{});
    // A new widest item is compared with the new width.
    Add("abcdefghi");  // 90
    EXPECT_EQ(Sent(), Extents{90 + 11});
    // A font change uses it too.
    state.RemeasureAllItems(box, FontOfWidth(10));
    EXPECT_EQ(Sent().back(), 90 + 11);
}

TEST_F(ListBoxExtent, WithoutAFontTheDefaultFontIsMeasured) {
    ListBoxExtentState fresh;
    ScriptedListBox plain;
    EXPECT_EQ(fresh.MeasureItemText(plain, "abc"), 3 * DefaultCharWidth);
    // Client width 0 and margin 0 before any WM_SIZE or WM_SETFONT.
    EXPECT_EQ(plain.extentsSent, Extents{3 * DefaultCharWidth});
}

}  // namespace
}  // namespace vesperlin::ui

#pragma once
// The width bookkeeping behind the list box hook, kept apart from the window procedure so that
// it runs (and is tested) anywhere: the list box is reached through a small port.
//
// The horizontal extent follows the widest item text: a new widest item wider than the client
// area sets it to its width plus the average character width; deleting the widest item sets it
// to the new widest plus that margin; a reset sets it to 0; a font change measures every item
// again. The extent is never touched on a resize.

#include <cstdint>
#include <string>
#include <vector>

namespace vesperlin::ui {

// Opaque font handle (an HFONT on Windows); null measures with the default font.
using FontHandle = void*;

// What the bookkeeping needs of a list box.
class ListBoxPort {
  public:
    virtual ~ListBoxPort() = default;
    // Pixel width of text, measured as stored (tabs not expanded) in font.
    virtual std::int32_t MeasureText(FontHandle font, const std::string& text) = 0;
    // The font's average character width (tmAveCharWidth).
    virtual std::int32_t AverageCharWidth(FontHandle font) = 0;
    // Text of item index; false when the list box has no such item.
    virtual bool GetItemText(std::int32_t index, std::string& text) = 0;
    // LB_SETHORIZONTALEXTENT sent to the list box.
    virtual void SetHorizontalExtent(std::int32_t extent) = 0;
    // LB_SETHORIZONTALEXTENT 0 handed straight to the list box's original procedure.
    virtual void ClearHorizontalExtent() = 0;
};

struct ExtentRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// One list box's record. Invariant while items change only through the Record/Forget calls:
// itemWidths has one entry per item, in item order, and widestWidth is its largest entry (0
// when empty).
struct ListBoxExtentState {
    FontHandle font = nullptr;
    std::vector<std::int32_t> itemWidths;
    std::int32_t widestWidth = 0;
    std::int32_t averageCharWidth = 0;
    ExtentRect clientRect;
    std::int32_t clientWidth = 0;

    // Measures text in font; a new widest item wider than the client area sets the extent.
    std::int32_t MeasureItemText(ListBoxPort& port, const std::string& text);
    // An item appended to an unsorted list box at index (the list box's answer). A negative
    // index (the list box refused the item) changes nothing.
    void RecordAddedItem(ListBoxPort& port, const std::string& text, std::intptr_t index);
    // An item inserted at index (LB_INSERTSTRING, or LB_ADDSTRING of a sorted list box). A
    // negative index changes nothing.
    void RecordInsertedItem(ListBoxPort& port, const std::string& text, std::intptr_t index);
    // Before item index is deleted. An index with no entry changes nothing.
    void ForgetItem(ListBoxPort& port, std::intptr_t index);
    // After the content was reset.
    void ForgetAllItems(ListBoxPort& port);
    // After a new font was set: every recorded item is measured again.
    void RemeasureAllItems(ListBoxPort& port, FontHandle newFont);
    // After a resize: only the client area is recorded; the extent stays.
    void RecordClientRect(const ExtentRect& rect);
};

}  // namespace vesperlin::ui

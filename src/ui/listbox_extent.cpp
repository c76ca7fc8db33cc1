#include "ui/listbox_extent.h"

#include <algorithm>

namespace vesperlin::ui {

std::int32_t ListBoxExtentState::MeasureItemText(ListBoxPort& port, const std::string& text) {
    const std::int32_t width = port.MeasureText(font, text);
    if (width > widestWidth) {
        widestWidth = width;
        // A new widest item that still fits the client area needs no scroll range.
        if (width > clientWidth) port.SetHorizontalExtent(width + averageCharWidth);
    }
    return width;
}

void ListBoxExtentState::RecordAddedItem(ListBoxPort& port, const std::string& text,
                                         std::intptr_t index) {
    // A negative index is the list box refusing the item (LB_ERR, LB_ERRSPACE): nothing was
    // added, so there is no width to record.
    if (index < 0) return;
    const std::int32_t width = MeasureItemText(port, text);
    const auto position = static_cast<std::size_t>(index);
    // Items that arrived by other messages (LB_DIR, say) have no entry; the gap is filled with
    // zero widths so that later entries stay at their item's position.
    if (position >= itemWidths.size()) itemWidths.resize(position + 1, 0);
    itemWidths[position] = width;
}

void ListBoxExtentState::RecordInsertedItem(ListBoxPort& port, const std::string& text,
                                            std::intptr_t index) {
    if (index < 0) return;
    const std::int32_t width = MeasureItemText(port, text);
    const auto position = static_cast<std::size_t>(index);
    if (position > itemWidths.size()) {
        itemWidths.resize(position, 0);
        itemWidths.push_back(width);
    } else {
        itemWidths.insert(itemWidths.begin() + static_cast<std::ptrdiff_t>(position), width);
    }
}

void ListBoxExtentState::ForgetItem(ListBoxPort& port, std::intptr_t index) {
    // The list box refuses to delete an item it does not have; then there is nothing to forget.
    if (index < 0 || static_cast<std::size_t>(index) >= itemWidths.size()) return;
    const auto position = itemWidths.begin() + static_cast<std::ptrdiff_t>(index);
    const std::int32_t width = *position;
    itemWidths.erase(position);
    if (width != widestWidth) return;
    // The stored widths are enough to find the new widest: nothing is measured again.
    widestWidth = 0;
    for (const std::int32_t other : itemWidths) widestWidth = std::max(widestWidth, other);
    port.SetHorizontalExtent(widestWidth + averageCharWidth);
}

void ListBoxExtentState::ForgetAllItems(ListBoxPort& port) {
    std::vector<std::int32_t>().swap(itemWidths);
    widestWidth = 0;
    port.ClearHorizontalExtent();
}

void ListBoxExtentState::RemeasureAllItems(ListBoxPort& port, FontHandle newFont) {
    font = newFont;
    averageCharWidth = port.AverageCharWidth(font);
    widestWidth = 0;
    std::string text;
    // The recorded items are measured, not LB_GETCOUNT's: entries and items stay parallel.
    for (std::size_t i = 0; i < itemWidths.size(); ++i) {
        if (!port.GetItemText(static_cast<std::int32_t>(i), text)) text.clear();
        itemWidths[i] = MeasureItemText(port, text);
    }
    port.SetHorizontalExtent(widestWidth > clientWidth ? widestWidth + averageCharWidth : 0);
}

void ListBoxExtentState::RecordClientRect(const ExtentRect& rect) {
    clientRect = rect;
    clientWidth = rect.right - rect.left;
}

}  // namespace vesperlin::ui

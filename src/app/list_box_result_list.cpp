#include "app/list_box_result_list.h"

namespace vesperlin::app {

std::size_t ListBoxResultList::Count() const {
    const int count = list.GetCount();
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::string ListBoxResultList::Line(std::size_t index) const {
    return list.GetText(static_cast<int>(index));
}

void ListBoxResultList::Add(const std::string& line) {
    // A line the list box refuses (out of memory) is simply missing.
    list.AddString(line);
}

}  // namespace vesperlin::app

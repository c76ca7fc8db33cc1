#pragma once
// The result list as the query sees it, over the main dialog's list box: LB_GETCOUNT,
// LB_GETTEXT and LB_ADDSTRING.

#include <string>

#include "framework/control.h"
#include "query/result_list.h"

namespace vesperlin::app {

class ListBoxResultList : public query::ResultList {
  public:
    explicit ListBoxResultList(framework::ListBox& list) : list(list) {}
    std::size_t Count() const override;
    std::string Line(std::size_t index) const override;
    void Add(const std::string& line) override;

  private:
    framework::ListBox& list;
};

}  // namespace vesperlin::app

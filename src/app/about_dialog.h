#pragma once
// The About box: template 100 and nothing of its own.

#include "framework/dialog.h"
#include "resource_ids.h"

namespace vesperlin::app {

class AboutDialog : public framework::Dialog {
  public:
    // `owner` stays disabled while the box is open.
    explicit AboutDialog(HWND owner = nullptr) : framework::Dialog(IDD_ABOUT, owner) {}
};

}  // namespace vesperlin::app

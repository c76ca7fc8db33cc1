#pragma once
// The About box: template 100 and nothing of its own.

#include "framework/dialog.h"
#include "resource_ids.h"

namespace vesperlin::win32 {

class AboutDialog : public Dialog {
  public:
    // `owner` stays disabled while the box is open.
    explicit AboutDialog(HWND owner = nullptr) : Dialog(IDD_ABOUT, owner) {}
};

}  // namespace vesperlin::win32

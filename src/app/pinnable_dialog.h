#pragma once
// A dialog that a click on its caption icon pins on top of other windows and unpins again;
// the caption shows a pressed-in pin while pinned and a pin from the side while not.

#include <windows.h>

#include "framework/dialog.h"

namespace vesperlin::app {

class PinnableDialog : public framework::Dialog {
  public:
    // Both icons are loaded from the current resource handle now; they are shared icons and
    // never destroyed.
    PinnableDialog(int templateId, int pinnedIconId, int unpinnedIconId, HWND parent);

    HICON pinnedIcon = nullptr;
    HICON unpinnedIcon = nullptr;
    BOOL isPinned = FALSE;

    // Flips the pin state: topmost or not, and the caption icon to match.
    void TogglePinned();
    // Sets the big and the small window icon to the icon of the current pin state.
    void ApplyPinIcons();

    static const framework::MessageTable messageTable;

  protected:
    const framework::MessageTable& GetMessageTable() const override { return messageTable; }
    BOOL OnInitDialog() override;

  private:
    bool OnClose(framework::WindowMessage& message);
    bool OnActivate(framework::WindowMessage& message);
    bool OnSysCommand(framework::WindowMessage& message);
    static const framework::MessageEntry messageEntries[];
};

}  // namespace vesperlin::app

#pragma once
// An owned tooltip control: created for an owner window, destroyed with the object.

#include <windows.h>

#include <string>

namespace vesperlin::framework {

class ToolTip {
  public:
    ToolTip() = default;
    ~ToolTip() { Destroy(); }
    ToolTip(const ToolTip&) = delete;
    ToolTip& operator=(const ToolTip&) = delete;

    // Creates the tooltip window (class TOOLTIPS_CLASS, WS_POPUP | style) owned by owner.
    bool Create(HWND owner, DWORD style) noexcept;
    // Adds a tool: the window tool, its id, the rectangle (client coordinates of tool) and text.
    bool AddTool(HWND tool, UINT_PTR id, const RECT& area, const std::string& text) noexcept;
    // Passes a mouse message of a tool to the tooltip (TTM_RELAYEVENT).
    void RelayEvent(const MSG& message) noexcept;
    // Number of tools the tooltip holds (TTM_GETTOOLCOUNT).
    int GetToolCount() const noexcept;
    void Destroy() noexcept;

    HWND Handle() const noexcept { return window; }

  private:
    HWND window = nullptr;
};

}  // namespace vesperlin::framework

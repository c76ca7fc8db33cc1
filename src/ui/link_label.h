#pragma once
// A static text control that behaves as a web link: underlined, blue, red under the mouse, dark
// blue once clicked, a hand cursor over it, and a click opens its target through the shell.
// Bind it to the dialog's static control (Dialog::BindControl); it tells its parent nothing.

#include <windows.h>

#include <functional>
#include <string>

#include "base/win32/window_owners.h"
#include "framework/control.h"
#include "framework/tool_tip.h"

namespace vesperlin::ui {

// How a click reaches the shell: ShellExecuteA's arguments. Replaceable so that tests see the
// call without starting a browser.
using ShellOpenFunction =
    std::function<void(HWND owner, const char* verb, const char* file, const char* parameters,
                       const char* directory, int showCommand)>;
// Replaces the function OpenTarget calls (null restores ShellExecuteA); returns the old one.
ShellOpenFunction SetShellOpenFunction(ShellOpenFunction function);

class LinkLabel : public framework::Static {
  public:
    static constexpr COLORREF normalColor = RGB(0, 0, 255);
    static constexpr COLORREF hoverColor = RGB(255, 0, 0);
    static constexpr COLORREF visitedColor = RGB(5, 34, 143);
    static constexpr UINT_PTR toolId = 1001;

    LinkLabel() = default;
    ~LinkLabel() override;

    // What a click opens, passed to the shell unchanged. May be set before or after binding.
    void SetTarget(const std::string& text) { target = text; }
    const std::string& GetTarget() const noexcept { return target; }

    bool IsHovering() const noexcept { return isHovering; }
    bool IsVisited() const noexcept { return isVisited; }
    // The text colour the label paints with now.
    COLORREF CurrentColor() const noexcept;

    // Opens target with the verb "open" and show command 2 (SW_SHOWMINIMIZED).
    void OpenTarget() const;

    static const framework::MessageTable messageTable;

  protected:
    const framework::MessageTable& GetMessageTable() const override { return messageTable; }
    void OnAttach() override;
    void PreTranslateMessage(const MSG& message) override;

  private:
    bool OnMouseMove(framework::WindowMessage& message);
    bool OnSetCursor(framework::WindowMessage& message);
    bool OnCaptureChanged(framework::WindowMessage& message);
    bool OnDestroy(framework::WindowMessage& message);
    bool OnSetFont(framework::WindowMessage& message);
    bool OnReflectedCommand(framework::WindowMessage& message);
    bool OnReflectedCtlColor(framework::WindowMessage& message);
    static const framework::MessageEntry messageEntries[];

    HFONT originalFont = nullptr;  // the font last given to the control, given back if we go first
    HCURSOR linkCursor = nullptr;
    bool isHovering = false;
    bool isVisited = false;
    base::UniqueFont underlineFont;
    framework::ToolTip toolTip;
    std::string target;
};

}  // namespace vesperlin::ui

#pragma once
// Binding an object to an existing control window: the control is subclassed through comctl32
// (SetWindowSubclass; whatever we do not handle goes on down the chain), OnAttach runs once, and
// from then on the control's messages go through its message table first. Notifications the control
// sends its parent dialog (WM_COMMAND, WM_CTLCOLOR*) come back to it reflected (OCM__BASE +
// message, see window.h) and can be answered here.

#include <windows.h>

#include <string>

#include "framework/window.h"

namespace vesperlin::framework {

class Control : public Window {
  public:
    Control() = default;
    // Detaches (takes our subclass off the control) if still attached.
    ~Control() override;

    // Subclasses the control and runs OnAttach. False (nothing changed) when the window is null,
    // another object is already bound to it, or this object is already attached.
    bool Attach(HWND control);
    // Takes our subclass off the control. Done by itself when the control is destroyed.
    void Detach() noexcept;

    // The object bound to a window, or null.
    static Control* FromHandle(HWND control) noexcept;

    // Offers a message reflected from the parent; true when the control answered it (then
    // message.result is the answer).
    bool OnReflectedMessage(WindowMessage& message) noexcept;

  protected:
    // Runs once, right after subclassing.
    virtual void OnAttach() {}
    // Sees every message the control receives before the message table does (mouse messages
    // for a tooltip relay, say). It cannot consume the message.
    virtual void PreTranslateMessage(const MSG& message) { (void)message; }
    // The subclass procedure: PreTranslateMessage, then the message table, then the rest of
    // the chain. Override to catch a message before the tables.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The rest of the subclass chain, down to the control's own procedure (DefSubclassProc).
    // Only while the control's message is being handled: outside of one there is no chain
    // position to go on from.
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  private:
    static LRESULT CALLBACK SubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR reference) noexcept;
};

// Text of item index of any list box window, any length, in the active code page. False (text
// emptied) when there is no such item.
bool GetListBoxText(HWND list, int index, std::string& text);
// The same as UTF-16, whatever the code pages are.
bool GetListBoxWideText(HWND list, int index, std::wstring& text);

// A list box of strings.
class ListBox : public Control {
  public:
    void ResetContent() noexcept;
    // Number of items; LB_ERR (-1) when not attached.
    int GetCount() const noexcept;
    // Text of item index, any length. False (text emptied) when there is no such item.
    bool GetText(int index, std::string& text) const;
    std::string GetText(int index) const;
    // Index of the new item, or LB_ERR / LB_ERRSPACE.
    int AddString(const std::string& text) noexcept;
    int InsertString(int index, const std::string& text) noexcept;
    // Number of items left, or LB_ERR.
    int DeleteString(int index) noexcept;
};

// A static text control.
class Static : public Control {
  public:
    std::string GetText() const;
    bool SetText(const std::string& text) noexcept;
};

}  // namespace vesperlin::framework

#pragma once
// A dialog run modally from a template, with message tables (see window.h), control binding
// and reflection of bound controls' notifications.
//
// Order of events in a modal run: the platform creates the window and its controls; on
// WM_INITDIALOG the framework calls OnInitDialog, whose base version binds the controls
// (BindControls) — a derived OnInitDialog calls its base's first. Each message then goes to
// WindowProc, whose base version:
//   1. reflects WM_COMMAND and WM_CTLCOLOR* sent by a bound control to that control, and
//      uses the control's answer when it gives one;
//   2. searches the message tables;
//   3. turns an unhandled WM_COMMAND IDOK / IDCANCEL into OnOK / OnCancel;
//   4. leaves everything else to the platform's default dialog handling.

#include <windows.h>

#include "framework/window.h"

namespace vesperlin::framework {

class Control;

class Dialog : public Window {
  public:
    // A dialog from template templateId of the current resource handle.
    explicit Dialog(int templateId, HWND parent = nullptr);
    // A dialog from an in-memory template, which must outlive DoModal.
    explicit Dialog(const DLGTEMPLATE* memoryTemplate, HWND parent = nullptr);
    ~Dialog() override;

    // Runs the dialog modally; returns the code given to EndDialog, or -1 when the dialog could
    // not be created (for instance its template is missing).
    INT_PTR DoModal();
    void EndDialog(INT_PTR code) noexcept;
    // Creates the dialog modeless (visible only if its template says so); the caller's message
    // loop drives it and Destroy ends it. False when it could not be created.
    bool Create();
    void Destroy() noexcept;

    HWND GetParentWindow() const noexcept { return parent; }
    HWND GetItem(int id) const noexcept { return GetDlgItem(window, id); }

    // Attaches control to the dialog's child window with the given id (Control::Attach).
    bool BindControl(int id, Control& control);

    static const MessageTable messageTable;

  protected:
    const MessageTable& GetMessageTable() const override { return messageTable; }

    // Binds the controls (BindControls) and returns TRUE so that the platform focuses the first
    // control. Exceptions thrown here end the dialog with -1.
    virtual BOOL OnInitDialog();
    // The controls to bind: a derived dialog calls BindControl for each.
    virtual void BindControls() {}
    // Enter / the OK button: EndDialog(IDOK).
    virtual void OnOK();
    // Esc / the close box / the Cancel button: EndDialog(IDCANCEL).
    virtual void OnCancel();

    // Every message of the dialog after creation. Returns what a dialog procedure returns: TRUE
    // when handled (the answer is set with DWLP_MSGRESULT by the framework), FALSE for default
    // handling, or the answer itself for the messages whose answer is the procedure's result
    // (WM_CTLCOLOR*, WM_INITDIALOG, WM_QUERYDRAGICON, ...). Override to see a message before
    // the tables, then call Dialog::WindowProc.
    virtual INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    INT_PTR Answer(UINT message, LRESULT result) noexcept;

    int templateId = 0;
    const DLGTEMPLATE* memoryTemplate = nullptr;
    HWND parent = nullptr;
};

}  // namespace vesperlin::framework

#pragma once
// The one way the desktop program tells the user of a failure: a message box with an OK button.
// It goes through a replaceable function so that tests record the text instead of blocking on a
// real box.

#include <windows.h>

#include <functional>
#include <string>

#include "sysinfo/messages.h"

namespace vesperlin::framework {

using MessageBoxFunction = std::function<void(HWND owner, const std::string& text)>;

// MessageBoxA(owner, text, <module file name's title>, MB_OK) through the current function.
void ShowMessage(HWND owner, const std::string& text);

// Replaces the function ShowMessage calls (null restores the real message box); returns the
// one it replaced.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

// Messages (the query's failure texts) shown with ShowMessage and a fixed owner window.
class MessageBoxMessages : public sysinfo::Messages {
  public:
    explicit MessageBoxMessages(HWND owner = nullptr) : owner(owner) {}
    void SetOwner(HWND value) noexcept { owner = value; }
    void Show(const std::string& text) override { ShowMessage(owner, text); }

  private:
    HWND owner;
};

}  // namespace vesperlin::framework

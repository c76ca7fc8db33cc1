#pragma once
// Letting messages from less privileged processes through to a window. An elevated program
// (the README recommends running ours as administrator) gets no drops from the unelevated shell
// unless it allows the drop messages: User Interface Privilege Isolation filters them.
// The call goes through a replaceable function so that tests see it: Wine does not filter.

#include <windows.h>

#include <functional>

namespace vesperlin::framework {

// The message that carries a drop's data between processes (WM_COPYGLOBALDATA); the SDK
// headers do not name it.
constexpr UINT CopyGlobalDataMessage = 0x0049;

using MessageFilterFunction = std::function<bool(HWND window, UINT message, DWORD action)>;

// ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW) through the current function;
// false when the platform refused.
bool AllowMessageFromLowerIntegrity(HWND window, UINT message);

// Replaces the function AllowMessageFromLowerIntegrity calls (null restores the platform's);
// returns the one it replaced.
MessageFilterFunction SetMessageFilterFunction(MessageFilterFunction function);

}  // namespace vesperlin::framework

#pragma once
// A process-wide hook on the system "LISTBOX" window class: every list box created after
// InstallListBoxHook gets a horizontal scroll bar whose range follows its widest item text.
// Owners use their list boxes as usual and never talk to the hook.

#include <windows.h>

namespace vesperlin::ui {

// The window property under which each hooked list box keeps its ListBoxExtentState.
constexpr char ListBoxExtentProperty[] = "Corvanet-E-Listbox";

// Replaces the class window procedure of "LISTBOX" for this process. 1 when installed now, 0
// when it already was. List boxes created before keep their procedure.
int InstallListBoxHook(HINSTANCE instance);

// The replacement class procedure (a wide one: LB_ADDSTRING text arrives as wide text, however
// the caller sent it): passes everything to the saved one and keeps the widths.
LRESULT CALLBACK ListBoxHookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace vesperlin::ui

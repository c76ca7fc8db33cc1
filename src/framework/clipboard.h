#pragma once
// Putting text on the clipboard.

#include <windows.h>

#include <string>

namespace vesperlin::framework {

// Replaces the clipboard's content with `text` as Unicode text (CF_UNICODETEXT), `owner`
// owning the clipboard. False when another window holds the clipboard open or memory is short
// (the clipboard is then unchanged) or the platform refuses the text.
bool SetClipboardText(HWND owner, const std::wstring& text);

}  // namespace vesperlin::framework

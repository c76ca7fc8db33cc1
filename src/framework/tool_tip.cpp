#include "framework/tool_tip.h"

#include <commctrl.h>

namespace vesperlin::framework {

bool ToolTip::Create(HWND owner, DWORD style) noexcept {
    Destroy();
    const HINSTANCE instance =
        owner != nullptr ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE))
                         : GetModuleHandleA(nullptr);
    window =
        CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | style, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
    return window != nullptr;
}

bool ToolTip::AddTool(HWND tool, UINT_PTR id, const RECT& area, const std::string& text) noexcept {
    if (window == nullptr) return false;
    TOOLINFOA info{};
    info.cbSize = sizeof(info);
    info.uFlags = 0;  // the tool relays its own mouse messages; no TTF_SUBCLASS
    info.hwnd = tool;
    info.uId = id;
    info.rect = area;
    info.hinst = nullptr;
    info.lpszText = const_cast<char*>(text.c_str());
    return SendMessageA(window, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)) != FALSE;
}

void ToolTip::RelayEvent(const MSG& message) noexcept {
    if (window == nullptr) return;
    MSG copy = message;
    SendMessageA(window, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&copy));
}

int ToolTip::GetToolCount() const noexcept {
    if (window == nullptr) return 0;
    return static_cast<int>(SendMessageA(window, TTM_GETTOOLCOUNT, 0, 0));
}

void ToolTip::Destroy() noexcept {
    if (window != nullptr && IsWindow(window)) DestroyWindow(window);
    window = nullptr;
}

}  // namespace vesperlin::framework

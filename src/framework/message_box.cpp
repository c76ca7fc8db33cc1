#include "framework/message_box.h"

#include <utility>

#include "framework/application.h"

namespace vesperlin::framework {

namespace {
void RealMessageBox(HWND owner, const std::string& text) {
    // The title is the program's file name, as the platform's own boxes show it.
    std::string title = "Vesperlin";
    const std::string full = ExecutablePath();
    if (!full.empty()) {
        const std::size_t slash = full.find_last_of("\\/");
        title = full.substr(slash == std::string::npos ? 0 : slash + 1);
        const std::size_t dot = title.find_last_of('.');
        if (dot != std::string::npos && dot > 0) title.erase(dot);
    }
    MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK);
}

MessageBoxFunction& CurrentFunction() {
    static MessageBoxFunction function = RealMessageBox;
    return function;
}
}  // namespace

void ShowMessage(HWND owner, const std::string& text) {
    const MessageBoxFunction& function = CurrentFunction();
    if (function) function(owner, text);
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
    if (!function) function = RealMessageBox;
    return std::exchange(CurrentFunction(), std::move(function));
}

}  // namespace vesperlin::framework

#include "framework/message_filter.h"

#include <utility>

namespace vesperlin::framework {

namespace {
bool ChangeFilter(HWND window, UINT message, DWORD action) {
    CHANGEFILTERSTRUCT status{};
    status.cbSize = sizeof status;
    return ChangeWindowMessageFilterEx(window, message, action, &status) != FALSE;
}

MessageFilterFunction& CurrentFunction() {
    static MessageFilterFunction function = ChangeFilter;
    return function;
}
}  // namespace

bool AllowMessageFromLowerIntegrity(HWND window, UINT message) {
    const MessageFilterFunction& function = CurrentFunction();
    return function && function(window, message, MSGFLT_ALLOW);
}

MessageFilterFunction SetMessageFilterFunction(MessageFilterFunction function) {
    if (!function) function = ChangeFilter;
    return std::exchange(CurrentFunction(), std::move(function));
}

}  // namespace vesperlin::framework

#include "base/win32/wide_text.h"

#include "base/text.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::base {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on this platform");

std::string NarrowFromWide(std::wstring_view text) {
    return Utf8FromUtf16(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::string NarrowFromWide(const wchar_t* text) {
    return text ? NarrowFromWide(std::wstring_view(text)) : std::string();
}

std::wstring WideFromNarrow(std::string_view text) {
    const std::u16string wide = Utf16FromUtf8(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string SystemMessage(DWORD error) {
    UniqueLocalMemory text;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
    std::string message;
    if (length > 0 && text) message = NarrowFromWide(static_cast<const wchar_t*>(text.get()));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(error);
    return message;
}

}  // namespace vesperlin::base

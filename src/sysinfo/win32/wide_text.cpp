#include "sysinfo/win32/wide_text.h"

#include <cstddef>

#include "sysinfo/text.h"

namespace vesperlin::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(UNICODE_STRING) == sizeof(CountedText16));
static_assert(offsetof(UNICODE_STRING, Buffer) == offsetof(CountedText16, Buffer));

void WideToNarrow(const wchar_t* text, std::string& result) {
    vesperlin::WideToNarrow(reinterpret_cast<const char16_t*>(text), result);
}

void CountedWideToNarrow(const UNICODE_STRING* record, std::string& result) {
    if (!record) {
        result.clear();
        return;
    }
    CountedText16 counted;
    counted.Length = record->Length;
    counted.MaximumLength = record->MaximumLength;
    counted.Buffer = reinterpret_cast<const char16_t*>(record->Buffer);
    vesperlin::CountedWideToNarrow(counted, result);
}

std::wstring NarrowToWide(const std::string& text) {
    std::wstring out;
    if (text.empty()) return out;
    const int count = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
    if (units <= 0) return out;
    out.resize(static_cast<std::size_t>(units));
    MultiByteToWideChar(CP_ACP, 0, text.data(), count, out.data(), units);
    return out;
}

bool EqualIgnoringCase(const std::string& left, const std::string& right) {
    if (left.size() == right.size() && left == right) return true;
    const std::wstring wideLeft = NarrowToWide(left);
    const std::wstring wideRight = NarrowToWide(right);
    if (wideLeft.size() != wideRight.size()) return false;
    if (wideLeft.empty()) return left.empty() && right.empty();
    return CompareStringOrdinal(wideLeft.data(), static_cast<int>(wideLeft.size()),
                                wideRight.data(), static_cast<int>(wideRight.size()),
                                TRUE) == CSTR_EQUAL;
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text) WideToNarrow(text, message);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(error);
    return message;
}

}  // namespace vesperlin::win32

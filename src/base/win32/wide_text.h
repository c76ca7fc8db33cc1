#pragma once
// The platform's wide strings and our 8-bit (UTF-8) text, through the one converter in
// base/text.h; and the system's own text for an error code.

#include <windows.h>

#include <string>
#include <string_view>

namespace vesperlin::base {

std::string NarrowFromWide(std::wstring_view text);
// NUL-terminated; a null pointer gives the empty string.
std::string NarrowFromWide(const wchar_t* text);
std::wstring WideFromNarrow(std::string_view text);

// The system's text for an error code, without its line end and final full stop ("error N"
// when it has none).
std::string SystemMessage(DWORD error);

}  // namespace vesperlin::base

#pragma once
// The conversions of sysinfo/text.h for the platform's own wide types, and the way back for
// comparisons that must follow the platform's case rules.

#include <windows.h>
#include <winternl.h>

#include <string>

namespace vesperlin::win32 {

// NUL-terminated UTF-16 to the active code page; null gives the empty string.
void WideToNarrow(const wchar_t* text, std::string& result);

// A UNICODE_STRING up to its first NUL, bounded by its lengths; null or empty gives "".
void CountedWideToNarrow(const UNICODE_STRING* record, std::string& result);

// Active code page to UTF-16.
std::wstring NarrowToWide(const std::string& text);

// Equal under the platform's ordinal case-insensitive rule (the one file names follow), for
// every script, not just ASCII.
bool EqualIgnoringCase(const std::string& left, const std::string& right);

// The system's text for an error code, without its line end and final full stop ("error N"
// when it has none).
std::string SystemMessage(DWORD error);

}  // namespace vesperlin::win32

#pragma once
// What text conversion system inspection needs beyond base/win32/wide_text.h: the native
// counted strings, and comparison under the platform's case rules.

#include <windows.h>
#include <winternl.h>

#include <string>

namespace vesperlin::sysinfo::win32 {

// A UNICODE_STRING up to its first NUL, bounded by its lengths; null or empty gives "".
void CountedWideToNarrow(const UNICODE_STRING* record, std::string& result);

// Equal under the platform's ordinal case-insensitive rule (the one file names follow), for
// every script, not just ASCII.
bool EqualIgnoringCase(const std::string& left, const std::string& right);

}  // namespace vesperlin::sysinfo::win32

#pragma once
// The file name of a language resource library. Portable so that it is tested natively.

#include <cstdint>
#include <string>

namespace vesperlin::app {

// The language the program's built-in resources are written in (English, United States).
inline constexpr std::uint16_t kBuiltInLanguageId = 1033;

// "Vesperlin%.2x.dll": the whole identifier, sub-language bits included, in lower-case
// hexadecimal with at least two digits (0x0407 gives Vesperlin407.dll, 0x0007 Vesperlin07.dll).
std::string LanguageLibraryName(std::uint16_t languageId);

}  // namespace vesperlin::app

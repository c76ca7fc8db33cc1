#pragma once
// The language of the user interface: a resource-only library beside the program, chosen by
// the user's language and then the system's, made the application's resource handle.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "app/language_name.h"

namespace vesperlin::app {

// The language the resources now come from; kBuiltInLanguageId while no library is loaded.
// When it is anything else at the end, the resource handle is a library to free.
extern std::uint16_t activeLanguageId;

// True when the user interface can use `languageId`: it is the built-in language, or its
// library ("Vesperlin%.2x.dll" in the program's own folder) has been loaded, as resources
// only, and made the current application's resource handle. False (nothing changed) when it
// cannot be loaded. The library is never looked for anywhere else: a language library must not
// be a way to run code from the current or a search-path folder.
bool LoadLanguageLibrary(std::uint16_t languageId);

using LanguageIdSource = std::function<LANGID()>;

// Start-up's choice: the user's language, and only when that cannot be used, the system's.
// The sources are asked lazily, so a usable user language never asks for the system's.
void SelectLanguage(const LanguageIdSource& userLanguage, const LanguageIdSource& systemLanguage);

// Frees the language library if one is loaded and returns to the built-in resources.
void FreeLanguageLibrary();

// The folder the running program was started from, with a trailing backslash; empty when it
// cannot be read.
std::string ProgramFolder();

}  // namespace vesperlin::app

#include "app/language_name.h"

#include <cstdio>

namespace vesperlin::app {

std::string LanguageLibraryName(std::uint16_t languageId) {
    char name[32];
    std::snprintf(name, sizeof name, "Vesperlin%.2x.dll", static_cast<unsigned>(languageId));
    return name;
}

}  // namespace vesperlin::app

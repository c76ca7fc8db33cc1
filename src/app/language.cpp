#include "app/language.h"

#include <string>
#include <utility>

#include "framework/application.h"

namespace vesperlin::app {

std::uint16_t activeLanguageId = kBuiltInLanguageId;

std::string ProgramFolder() {
    const std::string path = framework::ExecutablePath();
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

bool LoadLanguageLibrary(std::uint16_t languageId) {
    if (languageId == kBuiltInLanguageId) return true;
    framework::Application* app = framework::Application::Current();
    if (app == nullptr) return false;
    const std::string folder = ProgramFolder();
    if (folder.empty()) return false;
    const std::string path = folder + LanguageLibraryName(languageId);
    // Resources only: the library's code (if it had any) never runs, and nothing is searched.
    base::UniqueModule library(LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!library) return false;
    app->SetResourceLibrary(std::move(library));
    activeLanguageId = languageId;
    return true;
}

void SelectLanguage(const LanguageIdSource& userLanguage, const LanguageIdSource& systemLanguage) {
    activeLanguageId = kBuiltInLanguageId;
    if (!LoadLanguageLibrary(userLanguage())) {
        // Whether this one works does not matter: the built-in resources remain.
        LoadLanguageLibrary(systemLanguage());
    }
}

void FreeLanguageLibrary() {
    if (activeLanguageId == kBuiltInLanguageId) return;
    if (framework::Application* app = framework::Application::Current())
        app->SetResourceLibrary({});
    activeLanguageId = kBuiltInLanguageId;
}

}  // namespace vesperlin::app

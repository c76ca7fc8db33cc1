#pragma once
// The application object: its start-up does the program's whole life. It picks the language,
// builds the main dialog, takes the path from the command line, hooks the list box class,
// runs the dialog modally and, once it has closed, releases the language library.

#include "app/language.h"
#include "framework/application.h"

namespace vesperlin::app {

class UsageApp : public framework::Application {
  public:
    // Where the user's and the system's language come from (replaceable for tests).
    LanguageIdSource userLanguage = [] { return GetUserDefaultLangID(); };
    LanguageIdSource systemLanguage = [] { return GetSystemDefaultLangID(); };

    // Always false: the program ends when the main dialog has closed.
    bool InitInstance() override;
};

}  // namespace vesperlin::app

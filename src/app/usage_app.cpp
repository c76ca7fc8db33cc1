#include "app/usage_app.h"

#include <commctrl.h>

#include "app/command_line.h"
#include "app/main_dialog.h"
#include "ui/listbox_hook.h"

namespace vesperlin::app {

bool UsageApp::InitInstance() {
    InitCommonControls();
    framework::Application::InitInstance();
    // The icons the dialog loads when it is built come from the chosen language already.
    SelectLanguage(userLanguage, systemLanguage);
    {
        MainDialog dialog(nullptr);
        CommandLineArgs args;
        // Without memory to split the line the program starts with no initial path.
        const int count = args.SplitCommandLine(GetCommandLineA(), kStartupSplitRules);
        // Only the last argument counts; argument 0 is the program.
        for (int i = 1; i < count; ++i) dialog.initialPath = args.Arg(i);
        // Before the dialog exists, so that its result list is created hooked.
        ui::InstallListBoxHook(Instance());
        SetMainWindow(&dialog);
        dialog.DoModal();
        SetMainWindow(nullptr);
        FreeLanguageLibrary();
    }
    return false;
}

}  // namespace vesperlin::app

// vesperlin.exe: which running processes use a file or folder.
#include <windows.h>

#include "app/usage_app.h"

namespace {
// The one application object, built during static initialisation like the native entry
// points (see sysinfo/win32/nt_api.cpp).
vesperlin::app::UsageApp usageApp;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return vesperlin::framework::RunApplication(usageApp, instance);
}

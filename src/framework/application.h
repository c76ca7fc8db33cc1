#pragma once
// The application object: the one per process, reached through Application::Current().
// The program's entry point calls RunApplication(app); app.InitInstance() does the program's
// whole life when it runs a modal dialog and returns false.

#include <windows.h>

#include <string>

#include "base/win32/unique_handle.h"

namespace vesperlin::framework {

class Window;

class Application {
  public:
    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    virtual ~Application();

    // The application object constructed last and not yet destroyed, or null.
    static Application* Current() noexcept;

    // The executable's instance handle (set by RunApplication; until then the process's module).
    HINSTANCE Instance() const noexcept { return instance; }
    void SetInstance(HINSTANCE value) noexcept { instance = value; }

    // Where dialog templates, strings and icons come from: the executable unless a language
    // library has been made the resource handle.
    HINSTANCE ResourceHandle() const noexcept { return resources; }
    void SetResourceHandle(HINSTANCE value) noexcept { resources = value; }
    // Makes a loaded library (a language's resources) the resource handle and keeps it until
    // another one replaces it, an empty one returns to the executable's resources, or the
    // application ends.
    void SetResourceLibrary(base::UniqueModule library) noexcept;

    Window* MainWindow() const noexcept { return mainWindow; }
    void SetMainWindow(Window* value) noexcept { mainWindow = value; }

    // Runs once at start. True asks RunApplication to run a message loop until WM_QUIT; false
    // ends the program at once.
    virtual bool InitInstance() { return false; }
    // Runs once at the end; its result is the process's exit code.
    virtual int ExitInstance() { return 0; }

  private:
    HINSTANCE instance = nullptr;
    HINSTANCE resources = nullptr;
    base::UniqueModule resourceLibrary;
    Window* mainWindow = nullptr;
    Application* previous = nullptr;
};

// Sets the instance handle (GetModuleHandleA(nullptr) when instance is null), calls
// InitInstance, runs the message loop when it returned true, and returns ExitInstance's code.
// An exception that escapes InitInstance ends the program with exit code 1.
int RunApplication(Application& app, HINSTANCE instance = nullptr);

// The current resource handle: the application's, or the executable when no application exists.
HINSTANCE CurrentResourceHandle() noexcept;

// A string resource from the current resource handle; empty when missing. Any length.
std::string LoadResourceString(UINT id);
// An icon resource from the current resource handle (LoadIconA); null when missing.
HICON LoadResourceIcon(int id) noexcept;

// The running program's full path, however long (the manifest makes us long-path aware); empty
// when it cannot be read.
std::string ExecutablePath();

}  // namespace vesperlin::framework

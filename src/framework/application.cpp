#include "framework/application.h"

#include <utility>
#include <vector>

namespace vesperlin::win32 {

namespace {
Application* currentApplication = nullptr;
}

Application::Application() : previous(currentApplication) {
    instance = GetModuleHandleA(nullptr);
    resources = instance;
    currentApplication = this;
}

Application::~Application() {
    if (currentApplication == this) currentApplication = previous;
}

void Application::SetResourceLibrary(base::UniqueModule library) noexcept {
    // The handle moves first: nothing may load from a library that is being freed.
    resources = library ? library.get() : instance;
    resourceLibrary = std::move(library);
}

Application* Application::Current() noexcept {
    return currentApplication;
}

int RunApplication(Application& app, HINSTANCE instance) {
    if (instance == nullptr) instance = GetModuleHandleA(nullptr);
    if (app.ResourceHandle() == app.Instance()) app.SetResourceHandle(instance);
    app.SetInstance(instance);
    try {
        if (app.InitInstance()) {
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        return app.ExitInstance();
    } catch (...) {
        return 1;
    }
}

HINSTANCE CurrentResourceHandle() noexcept {
    if (Application* app = Application::Current()) return app->ResourceHandle();
    return GetModuleHandleA(nullptr);
}

std::string LoadResourceString(UINT id) {
    // LoadStringA cannot report a string's length without copying it, so grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        const int length = LoadStringA(CurrentResourceHandle(), id, buffer.data(),
                                       static_cast<int>(buffer.size()));
        if (length <= 0) return {};
        if (static_cast<std::size_t>(length) + 1 < buffer.size())
            return {buffer.data(), static_cast<std::size_t>(length)};
        if (buffer.size() >= (1u << 18)) return {buffer.data(), static_cast<std::size_t>(length)};
        buffer.resize(buffer.size() * 2);
    }
}

HICON LoadResourceIcon(int id) noexcept {
    return LoadIconA(CurrentResourceHandle(), MAKEINTRESOURCEA(id));
}

}  // namespace vesperlin::win32

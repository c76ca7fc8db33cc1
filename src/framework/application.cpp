#include "framework/application.h"

#include <utility>
#include <vector>

#include "base/grow_buffer.h"

namespace vesperlin::framework {

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
    // LoadStringA cannot report a string's length without copying it: a copy that fills the
    // buffer may have been cut. The largest string a resource holds (65535 UTF-16 units, three
    // UTF-8 bytes each at most) fits the last try.
    std::vector<char> buffer;
    int length = 0;
    const base::GrowResult grown = base::GrowBuffer({256, 1u << 18, 0}, [&](std::size_t size) {
        buffer.resize(size);
        length = LoadStringA(CurrentResourceHandle(), id, buffer.data(),
                             static_cast<int>(buffer.size()));
        if (length <= 0) return base::TryResult::Failed();
        const auto copied = static_cast<std::size_t>(length);
        return copied + 1 < size ? base::TryResult::Fits(copied) : base::TryResult::TooSmall();
    });
    if (grown.kind == base::GrowResult::Kind::Failed || length <= 0) return {};
    // Past the last try the text is kept as far as it was read.
    return {buffer.data(), static_cast<std::size_t>(length)};
}

HICON LoadResourceIcon(int id) noexcept {
    return LoadIconA(CurrentResourceHandle(), MAKEINTRESOURCEA(id));
}

std::string ExecutablePath() {
    // GetModuleFileNameA says nothing of the length it needs: a path that fills the buffer to
    // the brim may have been cut. The longest path the system takes (32767 UTF-16 units, none
    // more than three UTF-8 bytes) fits the last try.
    std::string path;
    const base::GrowResult grown =
        base::GrowBuffer({MAX_PATH, 32768 * 4, 0}, [&](std::size_t size) {
            path.resize(size);
            const DWORD length =
                GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return base::TryResult::Failed();
            return length < size ? base::TryResult::Fits(length) : base::TryResult::TooSmall();
        });
    if (!grown.Fits()) return {};
    path.resize(grown.used);
    return path;
}

}  // namespace vesperlin::framework

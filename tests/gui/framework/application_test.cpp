// The application object: one current instance, the resource handle that strings and icons
// come from, and the run helper's life cycle.
#include "framework/application.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "base/win32/wide_text.h"

namespace vesperlin::framework {
namespace {

constexpr UINT TestString = 900;

class ScriptedApp : public Application {
  public:
    bool initResult = false;
    bool throwOnInit = false;
    int inits = 0;
    int exits = 0;
    HINSTANCE instanceSeen = nullptr;
    bool InitInstance() override {
        ++inits;
        instanceSeen = Instance();
        if (throwOnInit) throw std::runtime_error("start-up failure");
        if (initResult) PostQuitMessage(0);  // let the loop run once and end
        return initResult;
    }
    int ExitInstance() override {
        ++exits;
        return 42;
    }
};

TEST(Application, IsCurrentWhileItLives) {
    EXPECT_EQ(Application::Current(), nullptr);
    {
        ScriptedApp app;
        EXPECT_EQ(Application::Current(), &app);
        EXPECT_EQ(app.Instance(), GetModuleHandleA(nullptr));
        EXPECT_EQ(app.ResourceHandle(), app.Instance());
    }
    EXPECT_EQ(Application::Current(), nullptr);
}

TEST(Application, ResourcesComeFromTheCurrentResourceHandle) {
    EXPECT_EQ(LoadResourceString(TestString), "Resource string from the test program");
    ScriptedApp app;
    EXPECT_EQ(LoadResourceString(TestString), "Resource string from the test program");
    // A language library that lacks the string gives nothing: there is no fallback.
    app.SetResourceHandle(GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(CurrentResourceHandle(), GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(LoadResourceString(TestString), "");
    EXPECT_EQ(LoadResourceIcon(4711), nullptr);
    app.SetResourceHandle(app.Instance());
    EXPECT_EQ(LoadResourceString(4711), "");
}

// A library nothing else in the test loads, so that it is gone once its owner frees it.
constexpr char SpareLibrary[] = "msimg32.dll";

TEST(Application, KeepsAResourceLibraryUntilItIsReplacedOrTheApplicationEnds) {
    ASSERT_EQ(GetModuleHandleA(SpareLibrary), nullptr);
    {
        ScriptedApp app;
        base::UniqueModule library(LoadLibraryA(SpareLibrary));
        ASSERT_TRUE(library);
        const HMODULE loaded = library.get();
        app.SetResourceLibrary(std::move(library));
        EXPECT_EQ(app.ResourceHandle(), loaded);
        EXPECT_EQ(CurrentResourceHandle(), loaded);
        EXPECT_EQ(GetModuleHandleA(SpareLibrary), loaded);

        app.SetResourceLibrary({});
        EXPECT_EQ(app.ResourceHandle(), app.Instance());
        EXPECT_EQ(GetModuleHandleA(SpareLibrary), nullptr);

        app.SetResourceLibrary(base::UniqueModule(LoadLibraryA(SpareLibrary)));
        EXPECT_NE(GetModuleHandleA(SpareLibrary), nullptr);
    }
    EXPECT_EQ(GetModuleHandleA(SpareLibrary), nullptr) << "freed with the application";
}

TEST(ExecutablePath, IsTheRunningProgramsWholePath) {
    std::wstring wide(32768, L'\0');
    wide.resize(GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size())));
    ASSERT_FALSE(wide.empty());
    const std::string path = ExecutablePath();
    EXPECT_EQ(path, base::NarrowFromWide(wide));
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(RunApplication, EndsAfterInitInstanceReturnsFalse) {
    ScriptedApp app;
    EXPECT_EQ(RunApplication(app), 42);
    EXPECT_EQ(app.inits, 1);
    EXPECT_EQ(app.exits, 1);
    EXPECT_EQ(app.instanceSeen, GetModuleHandleA(nullptr));
}

TEST(RunApplication, RunsTheMessageLoopUntilQuitWhenInitInstanceReturnsTrue) {
    ScriptedApp app;
    app.initResult = true;
    EXPECT_EQ(RunApplication(app), 42);
    EXPECT_EQ(app.exits, 1);
}

TEST(RunApplication, EndsWithCodeOneWhenInitInstanceThrows) {
    ScriptedApp app;
    app.throwOnInit = true;
    EXPECT_EQ(RunApplication(app), 1);
    EXPECT_EQ(app.exits, 0);
}

}  // namespace
}  // namespace vesperlin::framework

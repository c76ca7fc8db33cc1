// The language library: chosen by the user's language, then the system's, loaded from the
// program's own folder as resources only, and the source of every text the dialog shows.
#include "app/language.h"

#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "fakes/fake_system.h"
#include "framework/application.h"
#include "modal_script.h"
#include "resource_ids.h"
#include "support/holder_process.h"

namespace vesperlin::app {
namespace {

using testing::FakeSystem;
using testing::ListLines;
using testing::MessageRecorder;
using testing::RunModalScript;
using testing::WindowText;

constexpr LANGID German = 0x0407;
constexpr LANGID French = 0x040C;  // no library for it
constexpr LANGID English = 0x0409;

class LanguageTest : public ::testing::Test {
  protected:
    ~LanguageTest() override { FreeLanguageLibrary(); }

    // A language source that counts how often it was asked.
    LanguageIdSource Source(LANGID id, int& asked) {
        return [id, &asked] {
            ++asked;
            return id;
        };
    }

    framework::Application app;
    MessageRecorder messages;
    int userAsked = 0;
    int systemAsked = 0;
};

TEST_F(LanguageTest, UserLanguageWithALibraryMakesItTheResourceHandle) {
    SelectLanguage(Source(German, userAsked), Source(French, systemAsked));
    EXPECT_EQ(activeLanguageId, German);
    EXPECT_NE(app.ResourceHandle(), app.Instance());
    EXPECT_EQ(systemAsked, 0);
    EXPECT_EQ(framework::LoadResourceString(IDS_NOT_USED), "%s wird nicht verwendet.");

    FreeLanguageLibrary();
    EXPECT_EQ(activeLanguageId, kBuiltInLanguageId);
    EXPECT_EQ(app.ResourceHandle(), app.Instance());
    EXPECT_EQ(framework::LoadResourceString(IDS_NOT_USED), "%s is not used.");
}

TEST_F(LanguageTest, BuiltInUserLanguageLoadsNothingAndNeverAsksTheSystem) {
    SelectLanguage(Source(English, userAsked), Source(German, systemAsked));
    EXPECT_EQ(activeLanguageId, kBuiltInLanguageId);
    EXPECT_EQ(app.ResourceHandle(), app.Instance());
    EXPECT_EQ(userAsked, 1);
    EXPECT_EQ(systemAsked, 0);
}

TEST_F(LanguageTest, MissingUserLibraryFallsBackToTheSystemLanguage) {
    SelectLanguage(Source(French, userAsked), Source(German, systemAsked));
    EXPECT_EQ(systemAsked, 1);
    EXPECT_EQ(activeLanguageId, German);
    EXPECT_EQ(framework::LoadResourceString(IDS_ABOUT_ENTRY), "&Über Vesperlin...");
}

TEST_F(LanguageTest, NoLibraryForEitherLanguageKeepsTheBuiltInResources) {
    SelectLanguage(Source(French, userAsked), Source(0x0809, systemAsked));
    EXPECT_EQ(activeLanguageId, kBuiltInLanguageId);
    EXPECT_EQ(app.ResourceHandle(), app.Instance());
    EXPECT_EQ(framework::LoadResourceString(IDS_ABOUT_ENTRY), "&About Vesperlin...");
}

TEST_F(LanguageTest, LibraryIsNotTakenFromTheCurrentFolder) {
    // A library of the right name in the current folder (not the program's) is not used.
    testing::TempFolder elsewhere;
    const std::string ours = ProgramFolder() + "Vesperlin407.dll";
    const std::string planted = elsewhere.Path() + "\\Vesperlin40c.dll";
    ASSERT_TRUE(CopyFileA(ours.c_str(), planted.c_str(), FALSE));
    char previous[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.Path().c_str()));
    const bool loaded = LoadLanguageLibrary(French);
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(activeLanguageId, kBuiltInLanguageId);
}

TEST_F(LanguageTest, GermanLibraryCarriesEveryResourceTheProgramLooksUp) {
    // The program takes its resources from the library alone, so a gap would show as a
    // missing dialog, text or icon.
    const std::string path = ProgramFolder() + "Vesperlin407.dll";
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(library, nullptr);
    const struct {
        int id;
        LPCSTR type;
    } resources[] = {
        {IDD_ABOUT, MAKEINTRESOURCEA(5)},  // RT_DIALOG
        {IDD_MAIN, MAKEINTRESOURCEA(5)},
        {IDI_APPLICATION_ICON, MAKEINTRESOURCEA(14)},  // RT_GROUP_ICON
        {IDI_PINNED, MAKEINTRESOURCEA(14)},
        {IDI_UNPINNED, MAKEINTRESOURCEA(14)},
        {1, MAKEINTRESOURCEA(16)},  // RT_VERSION
    };
    for (const auto& resource : resources) {
        EXPECT_NE(FindResourceA(library, MAKEINTRESOURCEA(resource.id), resource.type), nullptr)
            << "resource " << resource.id;
    }
    char text[128] = {};
    EXPECT_GT(LoadStringA(library, IDS_ABOUT_ENTRY, text, sizeof text), 0);
    EXPECT_EQ(LoadStringA(library, IDS_NOT_USED, text, sizeof text), 24);
    EXPECT_STREQ(text, "%s wird nicht verwendet.");
    // Resources only: no entry point that could run code when it is loaded.
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(library) &
                                                     ~static_cast<ULONG_PTR>(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    EXPECT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    FreeLibrary(library);
}

TEST_F(LanguageTest, GermanDialogShowsTheLibrarysTextsIconsAndNotUsedLine) {
    SelectLanguage(Source(German, userAsked), Source(English, systemAsked));
    ASSERT_EQ(activeLanguageId, German);
    FakeSystem system;
    system.processes = {{0x1234, "editor.exe"}};
    system.modules = {{0x1234, "C:\\apps\\editor.exe"}};
    system.handles = {{0x1234, true, "\\Device\\HarddiskVolume1\\pagefile.sys"}};
    system.kinds["C:\\data\\bericht.txt"] = sysinfo::PathKind::File;
    MainDialog dialog(nullptr, system);
    // The icons come from the library too.
    EXPECT_NE(dialog.dialogIcon, nullptr);
    EXPECT_NE(dialog.pinnedIcon, nullptr);
    dialog.initialPath = "C:\\data\\bericht.txt";
    std::vector<std::string> lines;
    std::string groupBox, entry;
    const auto result = RunModalScript(
        dialog, {[&](HWND window) {
            if (ListLines(dialog.resultList.Handle()).empty()) return false;
            lines = ListLines(dialog.resultList.Handle());
            HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDNEXT);
            groupBox = WindowText(GetWindow(child, GW_HWNDNEXT));
            HMENU menu = GetSystemMenu(window, FALSE);
            char text[64] = {};
            GetMenuStringA(menu, GetMenuItemCount(menu) - 1, text, sizeof text, MF_BYPOSITION);
            entry = text;
            EndDialog(window, IDOK);
            return true;
        }});
    ASSERT_TRUE(result.finished) << result.timedOut;
    EXPECT_EQ(groupBox, "Verwendung");
    EXPECT_EQ(entry, "&Über Vesperlin...");
    EXPECT_EQ(lines, std::vector<std::string>{"bericht.txt wird nicht verwendet."});
}

}  // namespace
}  // namespace vesperlin::app

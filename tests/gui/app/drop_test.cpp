// Drops onto the main dialog, synthesised inside our own process (a drop handle does not cross
// processes), of files and folders that a helper process really holds open.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>

#include "app/main_dialog.h"
#include "framework/application.h"
#include "modal_script.h"
#include "fakes/fake_system.h"
#include "support/holder_process.h"

namespace vesperlin::app {
namespace {

using testing::HolderProcess;
using testing::ListLines;
using testing::MessageRecorder;
using testing::RunModalScript;
using testing::TempFolder;

// A drop handle as the shell makes one: DROPFILES, then the names (wide), each ended by a NUL,
// and one more NUL.
HDROP MakeDrop(const std::vector<std::string>& names) {
    std::wstring list;
    for (const std::string& name : names) {
        const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), length);
        list += wide;  // includes its NUL
    }
    list += L'\0';
    if (names.empty()) list += L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(),
                list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::string HolderLine(const HolderProcess& holder, const std::string& suffix = {}) {
    char line[64];
    std::snprintf(line, sizeof line, "0x%04lX  vesperlin-holder.exe", holder.Id());
    return line + suffix;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH * 4] = {};
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

struct DropOutcome {
    std::vector<std::string> lines;
    bool dropReleased = false;
};

class DropTest : public ::testing::Test {
  protected:
    // Drops `names` onto a fresh main dialog whose list holds an earlier line.
    DropOutcome Drop(const std::vector<std::string>& names) {
        MainDialog dialog(nullptr);
        return DropOn(dialog, names);
    }

    DropOutcome DropOn(MainDialog& dialog, const std::vector<std::string>& names) {
        DropOutcome outcome;
        const auto result = RunModalScript(
            dialog, {[&](HWND window) {
                dialog.resultList.AddString("an earlier line");
                HDROP drop = MakeDrop(names);
                SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
                outcome.lines = ListLines(dialog.resultList.Handle());
                // Released once handled: the handle is no longer valid memory.
                outcome.dropReleased = GlobalFlags(drop) == GMEM_INVALID_HANDLE;
                EndDialog(window, IDOK);
                return true;
            }});
        EXPECT_TRUE(result.finished) << result.timedOut;
        return outcome;
    }

    framework::Application app;
    MessageRecorder messages;
    TempFolder folder;
};

TEST_F(DropTest, DroppedFileHeldByAnotherProcessListsThatProcessOnly) {
    const std::string file = folder.MakeFile("held.txt");
    HolderProcess holder({"--file", file});
    ASSERT_TRUE(holder.Started());
    const DropOutcome outcome = Drop({file});
    EXPECT_EQ(outcome.lines, std::vector<std::string>{HolderLine(holder)});
    EXPECT_TRUE(outcome.dropReleased);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DropTest, DroppedFileNobodyUsesGivesTheNotUsedLine) {
    const std::string file = folder.MakeFile("quiet.txt");
    const DropOutcome outcome = Drop({file});
    EXPECT_EQ(outcome.lines, std::vector<std::string>{"quiet.txt is not used."});
    EXPECT_TRUE(outcome.dropReleased);
}

TEST_F(DropTest, OfThreeDroppedFilesOnlyTheFirstIsQueried) {
    const std::string first = folder.MakeFile("first.txt");
    const std::string second = folder.MakeFile("second.txt");
    const std::string third = folder.MakeFile("third.txt");
    HolderProcess holder({"--file", second, "--file", third});
    ASSERT_TRUE(holder.Started());
    const DropOutcome outcome = Drop({first, second, third});
    EXPECT_EQ(outcome.lines, std::vector<std::string>{"first.txt is not used."});
}

TEST_F(DropTest, DroppedFolderListsItsUsedEntriesWithTheirPathsInParentheses) {
    const std::string held = folder.MakeFile("held.txt");
    folder.MakeFile("quiet.txt");
    const std::string sub = folder.MakeSubfolder("sub");
    HolderProcess holder({"--file", held, "--folder", sub});
    ASSERT_TRUE(holder.Started());
    const std::string full = FullPath(folder.Path());
    const DropOutcome outcome = Drop({folder.Path()});
    // Order follows the listing; both hits are there, nothing else and no not-used line.
    ASSERT_EQ(outcome.lines.size(), 2u);
    std::vector<std::string> sorted = outcome.lines;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{HolderLine(holder, " (" + full + "\\held.txt)"),
                                                HolderLine(holder, " (" + full + "\\sub)")}));
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DropTest, DroppedFolderNobodyUsesLeavesTheListEmpty) {
    folder.MakeFile("quiet.txt");
    const DropOutcome outcome = Drop({folder.Path()});
    EXPECT_TRUE(outcome.lines.empty());
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DropTest, PathWhoseAttributesCannotBeReadListsNothing) {
    const DropOutcome outcome = Drop({folder.Path() + "\\gone.txt"});
    EXPECT_TRUE(outcome.lines.empty());
    EXPECT_TRUE(outcome.dropReleased);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DropTest, EmptyNameSaysFileHasNoLength) {
    const DropOutcome outcome = Drop({""});
    EXPECT_TRUE(outcome.lines.empty());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"File has no length."});
    EXPECT_TRUE(outcome.dropReleased);
}

TEST_F(DropTest, LongDroppedNameIsReadWhole) {
    // Far beyond MAX_PATH, so its attributes cannot be read and it is taken as a folder; the
    // scripted system lists it only under its whole name.
    std::string longFolder = "C:\\deep";
    while (longFolder.size() < 600) longFolder += "\\a-rather-long-folder-name";
    testing::FakeSystem system;
    system.processes = {{0x1234, "editor.exe"}};
    system.modules = {{0x1234, "C:\\apps\\editor.exe"}};
    system.folders[longFolder] = {".", "..", "held.txt"};
    const std::string held = longFolder + "\\held.txt";
    system.handles = {{0x1234, true, "\\Device\\HarddiskVolume1" + held.substr(2)}};
    MainDialog dialog(nullptr, system);
    const DropOutcome outcome = DropOn(dialog, {longFolder});
    // The line itself is cut to the list's 255 characters; its end shows the whole name came.
    const std::string line = "0x1234  editor.exe (" + held + ")";
    EXPECT_EQ(outcome.lines, std::vector<std::string>{line.substr(0, 255)});
    EXPECT_TRUE(outcome.dropReleased);
}

TEST_F(DropTest, LongFileNameIsQueriedAsAFileNotListedAsAFolder) {
    std::string longFile = "C:\\deep";
    while (longFile.size() < 600) longFile += "\\a-rather-long-folder-name";
    longFile += "\\held.txt";
    testing::FakeSystem system;
    system.processes = {{0x1234, "editor.exe"}};
    system.modules = {{0x1234, "C:\\apps\\editor.exe"}};
    system.kinds[longFile] = sysinfo::PathKind::File;
    system.handles = {{0x1234, true, "\\Device\\HarddiskVolume1" + longFile.substr(2)}};
    MainDialog dialog(nullptr, system);
    // The line names no path: the file went to the single-path query.
    EXPECT_EQ(DropOn(dialog, {longFile}).lines, std::vector<std::string>{"0x1234  editor.exe"});
}

TEST_F(DropTest, UnicodeNamesRoundTripThroughTheDrop) {
    const std::string file = folder.MakeFile("Zürich-данные.txt");
    HolderProcess holder({"--file", file});
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(Drop({file}).lines, std::vector<std::string>{HolderLine(holder)});
    EXPECT_EQ(Drop({folder.Path() + "\\Übersicht.txt"}).lines.size(), 0u);
}

}  // namespace
}  // namespace vesperlin::app

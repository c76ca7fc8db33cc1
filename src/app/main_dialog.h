#pragma once
// The program's main window: the usage note, the link line and the result list. Requests
// arrive as a drop of a file or folder, or as the path from the command line, queried once
// shortly after the window opens.

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "app/list_box_result_list.h"
#include "app/pinnable_dialog.h"
#include "framework/control.h"
#include "framework/message_box.h"
#include "sysinfo/system.h"
#include "ui/link_label.h"

namespace vesperlin::app {

class MainDialog : public PinnableDialog {
  public:
    static constexpr UINT_PTR StartupQueryTimer = 1310;
    static constexpr UINT StartupQueryDelayMs = 100;
    static constexpr char webAddress[] = "https://vesperlin.org/";

    // Queries the running system.
    explicit MainDialog(HWND parent = nullptr);
    // Queries `system`, which must outlive the dialog (tests script it).
    MainDialog(HWND parent, sysinfo::System& system);
    ~MainDialog() override;

    std::string initialPath;
    HICON dialogIcon = nullptr;
    framework::ListBox resultList;
    ui::LinkLabel webLink;

    // One path through the usage query; lines go to resultList. True when it stopped early.
    bool QueryPath(const std::string& path);
    // The folder's direct entries and the folder itself through the usage query. True when the
    // folder was listed to the end and queried.
    bool ExpandFolder(const std::string& folder);
    // A drop's first item: a folder (or a path whose attributes cannot be read) is expanded,
    // anything else queried as one path. Does not release the drop.
    void HandleDrop(HDROP drop);

    static const framework::MessageTable messageTable;

  protected:
    const framework::MessageTable& GetMessageTable() const override { return messageTable; }
    BOOL OnInitDialog() override;
    void BindControls() override;
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool OnSysCommand(framework::WindowMessage& message);
    bool OnPaint(framework::WindowMessage& message);
    bool OnQueryDragIcon(framework::WindowMessage& message);
    bool OnTimer(framework::WindowMessage& message);
    bool OnHelp(framework::WindowMessage& message);
    bool OnVKeyToItem(framework::WindowMessage& message);
    static const framework::MessageEntry messageEntries[];

    // Every line of resultList on the clipboard, one per row.
    void CopyResultLines();

    // The "%s is not used." text of the current resources.
    std::string NotUsedFormat() const;

    framework::MessageBoxMessages messages;
    std::unique_ptr<sysinfo::System> ownedSystem;
    sysinfo::System* system = nullptr;
    ListBoxResultList results{resultList};
};

}  // namespace vesperlin::app

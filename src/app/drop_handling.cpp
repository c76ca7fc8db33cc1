// Drops onto the main dialog: the window procedure (main_dialog.cpp) catches WM_DROPFILES and
// HandleDrop turns the first dropped item into a query.
#include "app/main_dialog.h"
#include "framework/message_box.h"
#include "framework/wait_cursor.h"

namespace vesperlin::app {

void MainDialog::HandleDrop(HDROP drop) {
    framework::WaitCursor waitCursor;
    resultList.ResetContent();
    // The old lines vanish now, before a query that may take a while.
    RedrawWindow(resultList.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);

    const UINT length = DragQueryFileA(drop, 0, nullptr, 0);
    std::string name;
    if (length > 0) {
        // Read whole, however long: long paths are allowed by our manifest.
        name.assign(static_cast<std::size_t>(length) + 1, '\0');
        const UINT copied = DragQueryFileA(drop, 0, name.data(), length + 1);
        name.resize(copied <= length ? copied : length);
    }
    if (name.empty()) {
        framework::ShowMessage(window, "File has no length.");
        return;
    }
    // Only a readable file is queried as one path: attributes that cannot be read take the
    // folder branch, whose listing then fails and queries nothing. The system's own test reads
    // attributes of paths of any length, which the 8-bit call does not.
    if (system->Classify(name) == sysinfo::PathKind::File) {
        QueryPath(name);
    } else {
        ExpandFolder(name);
    }
}

}  // namespace vesperlin::app

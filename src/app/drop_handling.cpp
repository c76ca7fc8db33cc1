// Drops onto the main dialog: the window procedure catches WM_DROPFILES and HandleDrop turns
// the first dropped item into a query.
#include "app/main_dialog.h"
#include "framework/message_box.h"
#include "framework/wait_cursor.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::win32 {

namespace {
struct DropTraits {
    using pointer = HDROP;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { DragFinish(value); }
};
using UniqueDrop = base::UniqueHandle<DropTraits>;
}  // namespace

INT_PTR MainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DROPFILES) return PinnableDialog::WindowProc(message, wParam, lParam);
    // The drop data is ours to release once the message has been handled, also when a
    // handler throws.
    UniqueDrop drop(reinterpret_cast<HDROP>(wParam));
    HandleDrop(drop.get());
    return PinnableDialog::WindowProc(message, wParam, lParam);
}

void MainDialog::HandleDrop(HDROP drop) {
    WaitCursor waitCursor;
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
        ShowMessage(window, "File has no length.");
        return;
    }
    // Only a readable file is queried as one path: attributes that cannot be read take the
    // folder branch, whose listing then fails and queries nothing. The system's own test reads
    // attributes of paths of any length, which the 8-bit call does not.
    if (system->Classify(name) == PathKind::File) {
        QueryPath(name);
    } else {
        ExpandFolder(name);
    }
}

}  // namespace vesperlin::win32

#pragma once
// The hourglass for the length of a scope. Nestable: inner ones keep the wait cursor, and the
// outermost one restores the cursor that was shown before it began.

#include <windows.h>

namespace vesperlin::framework {

class WaitCursor {
  public:
    WaitCursor() noexcept;
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    // Shows the wait cursor again (after a message box changed the cursor, say).
    void Restore() noexcept;

    // How many wait cursors are alive on this thread.
    static int Depth() noexcept;
};

}  // namespace vesperlin::framework

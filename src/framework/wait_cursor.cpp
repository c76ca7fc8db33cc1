#include "framework/wait_cursor.h"

namespace vesperlin::framework {

namespace {
// Per thread: a cursor belongs to the thread's input state.
thread_local int depth = 0;
thread_local HCURSOR previousCursor = nullptr;

HCURSOR WaitCursorHandle() noexcept {
    return LoadCursorA(nullptr, IDC_WAIT);
}
}  // namespace

WaitCursor::WaitCursor() noexcept {
    const HCURSOR shown = SetCursor(WaitCursorHandle());
    if (depth++ == 0) previousCursor = shown;
}

WaitCursor::~WaitCursor() {
    if (--depth == 0) {
        SetCursor(previousCursor);
        previousCursor = nullptr;
    } else {
        SetCursor(WaitCursorHandle());
    }
}

void WaitCursor::Restore() noexcept {
    SetCursor(WaitCursorHandle());
}

int WaitCursor::Depth() noexcept {
    return depth;
}

}  // namespace vesperlin::framework

#pragma once
// Owners for what the windowing code takes from the platform: fonts, a drop's data, a window's
// device context (with whatever was selected into it put back) and a paint cycle.

#include <windows.h>
#include <shellapi.h>

#include "base/win32/unique_handle.h"

namespace vesperlin::base {

struct FontTraits {
    using pointer = HFONT;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { DeleteObject(value); }
};

struct DropTraits {
    using pointer = HDROP;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { DragFinish(value); }
};

using UniqueFont = UniqueHandle<FontTraits>;  // CreateFontIndirect results
using UniqueDrop = UniqueHandle<DropTraits>;  // WM_DROPFILES data, ours once the message came

// A window's device context from GetDC. Objects selected through Select are put back (the
// first one replaced, so any number of selections undo at once) before the context is
// released, so the window's context is handed back as it was lent.
class WindowDc {
  public:
    explicit WindowDc(HWND window) noexcept : window(window), dc(GetDC(window)) {}
    ~WindowDc() {
        if (dc == nullptr) return;
        if (previous != nullptr) SelectObject(dc, previous);
        ReleaseDC(window, dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc; }
    explicit operator bool() const noexcept { return dc != nullptr; }

    // Selects object into the context; false (nothing changed) when there is no context or the
    // platform refused.
    bool Select(HGDIOBJ object) noexcept {
        if (dc == nullptr || object == nullptr) return false;
        const HGDIOBJ replaced = SelectObject(dc, object);
        if (replaced == nullptr || replaced == HGDI_ERROR) return false;
        if (previous == nullptr) previous = replaced;
        return true;
    }

  private:
    HWND window;
    HDC dc;
    HGDIOBJ previous = nullptr;
};

// BeginPaint / EndPaint as one owner, so that every way out of a WM_PAINT handler ends the
// painting.
class PaintScope {
  public:
    explicit PaintScope(HWND window) noexcept : window(window), dc(BeginPaint(window, &paint)) {}
    ~PaintScope() {
        if (dc != nullptr) EndPaint(window, &paint);
    }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC get() const noexcept { return dc; }
    explicit operator bool() const noexcept { return dc != nullptr; }
    const PAINTSTRUCT& Paint() const noexcept { return paint; }

  private:
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc;
};

}  // namespace vesperlin::base

#include "framework/clipboard.h"

#include <cstring>

namespace vesperlin::framework {

namespace {
// OpenClipboard / CloseClipboard as one owner, so every way out closes it.
class OpenedClipboard {
  public:
    explicit OpenedClipboard(HWND owner) : opened(OpenClipboard(owner) != FALSE) {}
    ~OpenedClipboard() {
        if (opened) CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    explicit operator bool() const noexcept { return opened; }

  private:
    bool opened;
};
}  // namespace

bool SetClipboardText(HWND owner, const std::wstring& text) {
    // The text is ready before the clipboard is opened and emptied, so that a lack of memory
    // leaves what the user had there.
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) return false;
    void* data = GlobalLock(block);
    if (data == nullptr) {
        GlobalFree(block);
        return false;
    }
    std::memcpy(data, text.c_str(), bytes);
    GlobalUnlock(block);
    OpenedClipboard clipboard(owner);
    if (!clipboard || !EmptyClipboard() || SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
        GlobalFree(block);
        return false;
    }
    return true;  // the clipboard owns the block now
}

}  // namespace vesperlin::framework

#pragma once
// Builds dialog templates in memory, so that GUI tests need no resource script.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vesperlin::testing {

class DialogTemplate {
  public:
    // style gets DS_SETFONT added when a font face is given.
    DialogTemplate(DWORD style, short cx, short cy, const std::string& title,
                   const std::string& fontFace = "MS Shell Dlg", WORD pointSize = 8) {
        if (!fontFace.empty()) style |= DS_SETFONT;
        AddDword(style);
        AddDword(0);  // extended style
        countAt = words.size();
        AddWord(0);  // item count, patched by AddItem
        AddShort(0);
        AddShort(0);
        AddShort(cx);
        AddShort(cy);
        AddWord(0);  // no menu
        AddWord(0);  // the predefined dialog class
        AddText(title);
        if (!fontFace.empty()) {
            AddWord(pointSize);
            AddText(fontFace);
        }
    }

    // A control of a predefined class: 0x0080 button, 0x0082 static, 0x0083 list box.
    DialogTemplate& AddItem(WORD classAtom, int id, DWORD style, short x, short y, short cx,
                            short cy, const std::string& text = "") {
        while (words.size() % 2 != 0) AddWord(0);  // DWORD alignment
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        AddShort(x);
        AddShort(y);
        AddShort(cx);
        AddShort(cy);
        AddWord(static_cast<WORD>(id));
        AddWord(0xFFFF);
        AddWord(classAtom);
        AddText(text);
        AddWord(0);  // no creation data
        ++words[countAt];
        return *this;
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words.data()); }

  private:
    void AddWord(WORD value) { words.push_back(value); }
    void AddShort(short value) { words.push_back(static_cast<WORD>(value)); }
    void AddDword(DWORD value) {
        AddWord(LOWORD(value));
        AddWord(HIWORD(value));
    }
    void AddText(const std::string& text) {
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
        if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
        for (wchar_t c : wide) AddWord(static_cast<WORD>(c));  // includes the terminating NUL
    }

    std::vector<WORD> words;
    std::size_t countAt = 0;
};

// Hands every message that is waiting to its window, without blocking.
inline void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace vesperlin::testing

#pragma once
// An owned font: the HFONT is deleted with the object.

#include <windows.h>

namespace vesperlin::win32 {

class Font {
  public:
    Font() = default;
    ~Font() { Reset(); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    Font(Font&& other) noexcept : font(other.font) { other.font = nullptr; }
    Font& operator=(Font&& other) noexcept;

    // Replaces the font with one made from description; false (no font) when that fails.
    bool CreateIndirect(const LOGFONTA& description) noexcept;
    void Reset() noexcept;

    HFONT Get() const noexcept { return font; }
    explicit operator bool() const noexcept { return font != nullptr; }

  private:
    HFONT font = nullptr;
};

}  // namespace vesperlin::win32

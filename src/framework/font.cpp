#include "framework/font.h"

#include <utility>

namespace vesperlin::win32 {

Font& Font::operator=(Font&& other) noexcept {
    if (this != &other) {
        Reset();
        font = std::exchange(other.font, nullptr);
    }
    return *this;
}

bool Font::CreateIndirect(const LOGFONTA& description) noexcept {
    Reset();
    font = CreateFontIndirectA(&description);
    return font != nullptr;
}

void Font::Reset() noexcept {
    if (font != nullptr) DeleteObject(font);
    font = nullptr;
}

}  // namespace vesperlin::win32

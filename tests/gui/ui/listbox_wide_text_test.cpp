// Lines beyond Latin in a hooked list box: the scroll range follows the width of the text the
// user sees, which is the width of its wide form. GDI reads 8-bit text in the system's code
// page, not in the program's UTF-8 one, so a measurement of the 8-bit bytes is wrong for such
// lines: too wide for Cyrillic, too narrow for Chinese.
#include <gtest/gtest.h>

#include <string>

#include "ui/listbox_hook.h"

namespace vesperlin::ui {
namespace {

// "Отчёт о продажах за квартал" (a sales report for the quarter), and "季度销售报告文件"
// (the same in Chinese), each repeated until the line is long.
const wchar_t kCyrillic[] =
    L"\x041E\x0442\x0447\x0451\x0442 \x043E \x043F\x0440\x043E\x0434\x0430\x0436\x0430\x0445 "
    L"\x0437\x0430 \x043A\x0432\x0430\x0440\x0442\x0430\x043B ";
const wchar_t kChinese[] = L"\x5B63\x5EA6\x9500\x552E\x62A5\x544A\x6587\x4EF6";

std::wstring Repeated(const wchar_t* part, int times) {
    std::wstring text;
    for (int i = 0; i < times; ++i) text += part;
    return text;
}

// The same text as the desktop program hands it to the list box: UTF-8, through the 8-bit
// message.
std::string Utf8(const std::wstring& text) {
    std::string narrow(text.size() * 4, '\0');
    narrow.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      narrow.data(), static_cast<int>(narrow.size()), nullptr,
                                      nullptr));
    return narrow;
}

struct WideExtent {
    int textWidth;
    int margin;
};

// The wide text measured on the list box's own device context in `font`, and the font's
// average character width.
WideExtent MeasureWide(HWND list, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    return {size.cx, metrics.tmAveCharWidth};
}

class WideListBoxText : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallListBoxHook(GetModuleHandleA(nullptr));  // once per process; later calls no-ops
        list = CreateWindowExA(0, "LISTBOX", nullptr, WS_POPUP | LBS_HASSTRINGS, 0, 0, 120, 100,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(list, nullptr);
        // The dialog font of the main window, and a larger one for the font change.
        LOGFONTW description{};
        description.lfHeight = -11;
        description.lfCharSet = DEFAULT_CHARSET;
        lstrcpyW(description.lfFaceName, L"MS Shell Dlg");
        font = CreateFontIndirectW(&description);
        description.lfHeight = -19;
        bigFont = CreateFontIndirectW(&description);
        ASSERT_TRUE(font && bigFont);
        SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    void TearDown() override {
        if (list) DestroyWindow(list);
        DeleteObject(font);
        DeleteObject(bigFont);
    }
    LRESULT Extent() const { return SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0); }
    LRESULT Expected(HFONT measuredIn, const std::wstring& text) const {
        const WideExtent wide = MeasureWide(list, measuredIn, text);
        return wide.textWidth + wide.margin;
    }

    HWND list = nullptr;
    HFONT font = nullptr;
    HFONT bigFont = nullptr;
};

TEST_F(WideListBoxText, ACyrillicLineScrollsExactlyAsFarAsItsWideTextIsWide) {
    const std::wstring line = Repeated(kCyrillic, 6);
    ASSERT_GE(SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8(line).c_str())), 0);
    EXPECT_EQ(Extent(), Expected(font, line));
}

TEST_F(WideListBoxText, AChineseLineScrollsExactlyAsFarAsItsWideTextIsWide) {
    const std::wstring line = Repeated(kChinese, 8);
    ASSERT_GE(SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8(line).c_str())), 0);
    EXPECT_EQ(Extent(), Expected(font, line));
}

TEST_F(WideListBoxText, LinesAreMeasuredAgainInTheirWideFormAfterAFontChange) {
    const std::wstring cyrillic = Repeated(kCyrillic, 6);
    const std::wstring chinese = Repeated(kChinese, 12);
    // Sent both ways: the list box keeps the same text either way.
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8(cyrillic).c_str()));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(chinese.c_str()));
    const bool cyrillicWider = MeasureWide(list, bigFont, cyrillic).textWidth >
                               MeasureWide(list, bigFont, chinese).textWidth;
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(bigFont), FALSE);
    EXPECT_EQ(Extent(), Expected(bigFont, cyrillicWider ? cyrillic : chinese));
    // Deleting the widest leaves the other's width as it was measured.
    SendMessageA(list, LB_DELETESTRING, cyrillicWider ? 0 : 1, 0);
    EXPECT_EQ(Extent(), Expected(bigFont, cyrillicWider ? chinese : cyrillic));
}

}  // namespace
}  // namespace vesperlin::ui

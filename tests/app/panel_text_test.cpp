// The Japanese texts (drawn texts, checkbox caption, warning box title) read as Japanese with
// no missing glyph; run under the default code page and again under code page 932.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panel.h"
#include "app/panel_state.h"
#include "app/panel_texts.h"
#include "convert/shake_warp.h"
#include "convert/warning_box.h"
#include "tests/app/panel_test_support.h"

namespace {

class PanelTextTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(CreateTestPanel(), nullptr); }
    void TearDown() override { DestroyTestPanel(); }
};

// What the painting shows for Shift_JIS bytes: TextOutA reads them in the ANSI code page where
// that is Shift_JIS; elsewhere they are converted from Shift_JIS first.
std::wstring ShownText(const char* bytes) {
    if (GetACP() == 932) return AnsiToWide(bytes);
    return ShiftJisBytesToWide(bytes);
}

struct DrawnText {
    const char* name;
    const char* bytes;
    const wchar_t* unicode;
};

const DrawnText kDrawnTexts[] = {
    {"close cross", kCloseCrossMark, L"\u00d7"},
    {"close square", kCloseSquareMark, L"\u25a1"},
    {"shake label", kShakeLabel, L"\u63fa\u308c\u5177\u5408"},
    {"percent", kPercentSign, L"%"},
    {"drop prompt", kDropPrompt, L"\u30d5\u30a1\u30a4\u30eb\u3092\u30c9\u30ed\u30c3\u30d7"},
};

TEST_F(PanelTextTest, DrawnTextsReadAsJapaneseInTheFontTheyAreDrawnIn) {
    HDC dc = GetDC(panelWindow);
    HGDIOBJ previous = panelJapaneseFont ? SelectObject(dc, panelJapaneseFont) : nullptr;
    for (const DrawnText& text : kDrawnTexts) {
        SCOPED_TRACE(text.name);
        std::wstring shown = ShownText(text.bytes);
        EXPECT_EQ(shown, text.unicode);
        EXPECT_EQ(MissingGlyphs(dc, shown), L"");
    }
    if (previous != nullptr) SelectObject(dc, previous);
    ReleaseDC(panelWindow, dc);
}

// The panel's client pixels: the window's device context copied into a 32-bit bitmap.
std::vector<uint32_t> ClientPixels(HDC source) {
    HDC memory = CreateCompatibleDC(source);
    void* bits = nullptr;
    HBITMAP bitmap = CreateTopDownBitmap(memory, kPanelWidth, kPanelHeight, &bits);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, kPanelWidth, kPanelHeight, source, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> copy(pixels, pixels + kPanelWidth * kPanelHeight);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return copy;
}

// The texts as they must look: the Unicode texts drawn in the panel's font on the face colour,
// at the places and offsets that the random sequence from `state` gives.
void DrawExpectedTexts(HDC dc, uint32_t state) {
    uint32_t saved = randomSequenceState;
    randomSequenceState = state;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    auto bold = [dc](int x, int y, const wchar_t* text) {
        TextOutW(dc, x, y, text, lstrlenW(text));
        TextOutW(dc, x + 1, y, text, lstrlenW(text));
    };
    for (const wchar_t* mark : {L"\u00d7", L"\u25a1"}) {
        int dx = RandomBelow(4);
        int dy = RandomBelow(4);
        bold(215 + dx, 4 + dy, mark);
    }
    TextOutW(dc, 96, 47, L"\u63fa\u308c\u5177\u5408", 4);
    TextOutW(dc, 210, 48, L"%", 1);
    const wchar_t prompt[] = L"\u30d5\u30a1\u30a4\u30eb\u3092\u30c9\u30ed\u30c3\u30d7";
    for (int i = 0; i < 9; ++i) {
        int dx = RandomBelow(4);
        int dy = RandomBelow(4);
        const wchar_t character[] = {prompt[i], L'\0'};
        bold(8 + 12 * i + dx, 14 + dy, character);
    }
    randomSequenceState = saved;
}

// A whole paint, so that every text is drawn once over the fresh face (a text drawn again over
// itself, as the label is at every tick, darkens its smoothed edges).
TEST_F(PanelTextTest, PaintDrawsTheJapaneseTextsPixelForPixel) {
    HDC dc = GetDC(panelWindow);
    uint32_t state = randomSequenceState;
    InvalidateRect(panelWindow, nullptr, TRUE);
    UpdateWindow(panelWindow);
    std::vector<uint32_t> drawn = ClientPixels(dc);
    // The same on the face colour, in the font the panel draws with.
    RECT face = {0, 0, kPanelWidth, kPanelHeight};
    FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ previous = panelJapaneseFont ? SelectObject(dc, panelJapaneseFont) : nullptr;
    DrawExpectedTexts(dc, state);
    if (previous != nullptr) SelectObject(dc, previous);
    std::vector<uint32_t> expected = ClientPixels(dc);
    ReleaseDC(panelWindow, dc);
    // The jitter band, and the row of the shake label and the "%" left of and beside the edit.
    const RECT areas[] = {{2, 2, 237, 46}, {90, 46, 166, 66}, {209, 46, 237, 66}};
    for (const RECT& area : areas) {
        int differing = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                differing += drawn[y * kPanelWidth + x] != expected[y * kPanelWidth + x];
        EXPECT_EQ(differing, 0) << "area at " << area.left << "," << area.top;
    }
}

// Guards the run itself: the code page 932 run must really be under code page 932.
TEST(CodePageOfThisRun, IsTheOneTheRunIsFor) {
    char expected[16] = {};
    if (GetEnvironmentVariableA("WOBZY_CODE_PAGE", expected, sizeof(expected)) > 0) {
        EXPECT_EQ(GetACP(), static_cast<UINT>(std::stoul(expected)));
    } else {
        EXPECT_NE(GetACP(), 932u) << "the default run should show the texts under another code page";
    }
}

// Guards the run on a scaled screen: the screen must really have the DPI the run is for.
TEST(ScreenOfThisRun, HasTheDpiTheRunIsFor) {
    char expected[16] = {};
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (GetEnvironmentVariableA("WOBZY_SCREEN_DPI", expected, sizeof(expected)) > 0) {
        EXPECT_EQ(dpi, std::stoi(expected));
    } else {
        EXPECT_EQ(dpi, 96) << "the other runs are at 100 %";
    }
}

TEST_F(PanelTextTest, FontIsTheDefaultOneOnlyWhereTheCodePageIsShiftJis) {
    EXPECT_EQ(panelJapaneseFont == nullptr, GetACP() == 932);
}

TEST_F(PanelTextTest, CheckboxCaptionReadsAsJapaneseInItsFont) {
    const std::wstring expected = L"\u9ad8\u3055/\u5e45\u30b5\u30a4\u30ba\u5236\u9650";  // "高さ/幅サイズ制限"
    wchar_t caption[64] = {};
    GetWindowTextW(sizeLimitCheckbox, caption, 64);
    EXPECT_EQ(caption, expected);
    HDC dc = GetDC(sizeLimitCheckbox);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(sizeLimitCheckbox, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;  // else the default it draws in
    EXPECT_EQ(MissingGlyphs(dc, expected), L"");
    if (previous != nullptr) SelectObject(dc, previous);
    ReleaseDC(sizeLimitCheckbox, dc);
}

// The title in the caption font (scripts/wine-env gives Wine's prefix one with Japanese glyphs),
// and the box wide enough for all of it, its close button and its frame, however short the path.
TEST_F(PanelTextTest, WarningBoxTitleReadsAsJapaneseAndWhole) {
    MessageBoxCapture capture;
    capturedBoxes.clear();
    ReportConversionError(panelWindow, ConversionFailure(4), "C:\\in\\x.png");
    ASSERT_EQ(capturedBoxes.size(), 1u);
    // "このファイルは変換できませんでした(code:4)"
    const std::wstring title = L"\u3053\u306e\u30d5\u30a1\u30a4\u30eb\u306f\u5909\u63db\u3067\u304d\u307e"
                               L"\u305b\u3093\u3067\u3057\u305f(code:4)";
    EXPECT_EQ(capturedBoxes[0].caption, title);
    EXPECT_EQ(capturedBoxes[0].text, L"C:\\in\\x.png");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HGDIOBJ previous = SelectObject(dc, font);
    EXPECT_EQ(MissingGlyphs(dc, title), L"");
    SIZE extent = {};
    GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &extent);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    const RECT& box = capturedBoxes[0].window;
    EXPECT_GE(box.right - box.left, extent.cx + GetSystemMetrics(SM_CXSIZE) + 2 * GetSystemMetrics(SM_CXFIXEDFRAME));
}

}  // namespace

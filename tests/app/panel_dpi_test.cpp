// The panel at the DPI it is given: laid out at the system's (run at 96 and again in a prefix at
// 144), and after a move to a monitor of another scale; and what the manifest changes in the
// process: common controls 6 and per-monitor DPI awareness.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panel.h"
#include "app/panel_state.h"
#include "tests/app/panel_test_support.h"

namespace {

class PanelDpiTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(CreateTestPanel(), nullptr); }
    void TearDown() override { DestroyTestPanel(); }
};

int Scaled(int length, int dpi) { return MulDiv(length, dpi, 96); }

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

RECT ClientRectOf(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, panelWindow, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The width the checkbox's caption takes in the font it draws with.
int CheckboxCaptionWidth() {
    wchar_t caption[64] = {};
    const int length = GetWindowTextW(sizeLimitCheckbox, caption, 64);
    HDC dc = GetDC(sizeLimitCheckbox);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(sizeLimitCheckbox, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, caption, length, &extent);
    SelectObject(dc, previous);
    ReleaseDC(sizeLimitCheckbox, dc);
    return extent.cx;
}

// The panel and its controls as laid out for `dpi`: scaled sizes and places, no control over
// another or outside the panel, and the checkbox's caption within the checkbox (at 150 % an
// unscaled layout let it run into the limit edit).
void ExpectLayoutFor(int dpi) {
    RECT window;
    GetWindowRect(panelWindow, &window);
    EXPECT_EQ(window.right - window.left, Scaled(239, dpi));
    EXPECT_EQ(window.bottom - window.top, Scaled(102, dpi));
    EXPECT_EQ(panelRect.right, Scaled(239, dpi));
    EXPECT_EQ(panelRect.bottom, Scaled(102, dpi));
    const struct {
        HWND control;
        ControlPlace place;
    } controls[] = {{shakeEdit, kShakeEditPlace}, {sizeLimitCheckbox, kSizeLimitCheckboxPlace},
                    {limitEdit, kLimitEditPlace}};
    std::vector<RECT> rects;
    for (const auto& c : controls) {
        RECT rect = ClientRectOf(c.control);
        EXPECT_EQ(rect.left, Scaled(c.place.x, dpi));
        EXPECT_EQ(rect.top, Scaled(c.place.y, dpi));
        EXPECT_EQ(rect.right - rect.left, Scaled(c.place.width, dpi));
        EXPECT_EQ(rect.bottom - rect.top, Scaled(c.place.height, dpi));
        EXPECT_GE(rect.left, 2);
        EXPECT_LE(rect.right, panelRect.right - 2);
        EXPECT_LE(rect.bottom, panelRect.bottom - 2);
        rects.push_back(rect);
    }
    for (size_t i = 0; i < rects.size(); ++i)
        for (size_t j = i + 1; j < rects.size(); ++j) {
            RECT overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &rects[i], &rects[j])) << i << " over " << j;
        }
    const int box = GetSystemMetrics(SM_CXMENUCHECK);
    EXPECT_LE(box + CheckboxCaptionWidth(), rects[1].right - rects[1].left) << "the caption does not fit";
}

TEST_F(PanelDpiTest, IsLaidOutForTheSystemDpi) {
    EXPECT_EQ(panelDpi, SystemDpi());
    ExpectLayoutFor(SystemDpi());
}

// Windows sends WM_DPICHANGED with the DPI and the place it suggests when the panel is dragged
// onto a monitor of another scale; Wine has one DPI for all, so the message is sent here.
TEST_F(PanelDpiTest, FollowsAMoveToAMonitorOfAnotherScaleAndBack) {
    const int system = SystemDpi();
    for (int dpi : {144, 192, 96, system}) {
        SCOPED_TRACE(dpi);
        RECT suggested = {100, 80, 100 + Scaled(239, dpi), 80 + Scaled(102, dpi)};
        SendMessageA(panelWindow, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(panelDpi, dpi);
        ExpectLayoutFor(dpi);
        RECT window;
        GetWindowRect(panelWindow, &window);
        EXPECT_EQ(window.left, 100);
        EXPECT_EQ(window.top, 80);
        // The edits draw in the system font where it is made for this DPI, in a scaled one elsewhere.
        EXPECT_EQ(SendMessageA(shakeEdit, WM_GETFONT, 0, 0) == 0, dpi == system);
        EXPECT_EQ(SendMessageA(limitEdit, WM_GETFONT, 0, 0) == 0, dpi == system);
        // The texts shake within their scaled bounds; the face stays below the band.
        InvalidateRect(panelWindow, nullptr, TRUE);
        UpdateWindow(panelWindow);
        HDC dc = GetDC(panelWindow);
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        const int band = Scaled(46, dpi);
        RECT prompt = InkBounds(dc, {2, 2, Scaled(200, dpi), band}, face);
        RECT close = InkBounds(dc, {Scaled(200, dpi), 2, panelRect.right - 2, band}, face);
        ReleaseDC(panelWindow, dc);
        EXPECT_GE(prompt.left, Scaled(8, dpi));
        EXPECT_GE(prompt.top, Scaled(14, dpi));
        EXPECT_LT(prompt.bottom, band);
        EXPECT_GE(close.left, panelRect.right - Scaled(24, dpi));
        EXPECT_GE(close.top, Scaled(4, dpi));
    }
}

// The close box's hit area scales with the rest: pressed at its scaled edges at 150 %.
TEST_F(PanelDpiTest, CloseBoxHitAreaScales) {
    RECT suggested = {0, 0, Scaled(239, 144), Scaled(102, 144)};
    SendMessageA(panelWindow, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    // Centre (359 - 27, 15), half sizes 12 and 18: 320 is outside, 321 inside.
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(320, 15));
    EXPECT_TRUE(IsWindow(panelWindow));
    SendMessageA(panelWindow, WM_LBUTTONUP, 0, MAKELPARAM(320, 15));
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(321, 15));
    EXPECT_FALSE(IsWindow(panelWindow));
}

// The manifest linked into this test program is the one wobzy.exe carries. The controls come
// from common controls 6, the side-by-side assembly (version 5 lives in system32). Its
// DllGetVersion cannot tell: Wine's answers 5.81 for both.
TEST(ManifestTest, GivesCommonControls6) {
    ASSERT_NE(CreateTestPanel(), nullptr);
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    DestroyTestPanel();
    ASSERT_NE(comctl, nullptr) << "the controls did not come from common controls";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::wstring::npos)
        << WideToUtf8String(path);
}

TEST(ManifestTest, MakesTheProcessPerMonitorDpiAware) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    using ContextCall = HANDLE(WINAPI*)();
    using AwarenessCall = int(WINAPI*)(HANDLE);
    auto threadContext = reinterpret_cast<ContextCall>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    auto awareness = reinterpret_cast<AwarenessCall>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    ASSERT_NE(threadContext, nullptr);
    ASSERT_NE(awareness, nullptr);
    EXPECT_EQ(awareness(threadContext()), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE
}

}  // namespace

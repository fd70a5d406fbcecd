// The panel's painting driven in-process: the face and frame lines, the random values each paint
// and tick takes, the texts inside their bounds, and ticks of other timers that do nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/panel.h"
#include "app/panel_state.h"
#include "convert/shake_warp.h"
#include "tests/app/panel_test_support.h"

namespace {

constexpr COLORREF kMarker = RGB(255, 0, 255);

class PanelPaintTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(CreateTestPanel(), nullptr);
        dc_ = GetDC(panelWindow);
    }
    void TearDown() override {
        ReleaseDC(panelWindow, dc_);
        DestroyTestPanel();
    }
    COLORREF Pixel(int x, int y) {
        GdiFlush();
        return GetPixel(dc_, x, y);
    }
    void Fill(RECT area, COLORREF colour) {
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc_, &area, brush);
        DeleteObject(brush);
        GdiFlush();
    }
    RECT InkBounds(RECT area, COLORREF background) { return ::InkBounds(dc_, area, background); }
    void Repaint(const RECT* region) {
        InvalidateRect(panelWindow, region, TRUE);
        UpdateWindow(panelWindow);
    }
    HDC dc_ = nullptr;
};

TEST_F(PanelPaintTest, PaintShowsTheFaceAndTheTwoFrameLines) {
    Repaint(nullptr);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF outer = GetSysColor(COLOR_3DDKSHADOW);
    const COLORREF inner = GetSysColor(COLOR_BTNSHADOW);
    for (int x : {0, 119, 238}) {
        EXPECT_EQ(Pixel(x, 0), outer) << x;
        EXPECT_EQ(Pixel(x, 101), outer) << x;
    }
    for (int y : {0, 50, 101}) {
        EXPECT_EQ(Pixel(0, y), outer) << y;
        EXPECT_EQ(Pixel(238, y), outer) << y;
    }
    for (int x : {1, 119, 237}) {
        EXPECT_EQ(Pixel(x, 1), inner) << x;
        EXPECT_EQ(Pixel(x, 100), inner) << x;
    }
    for (int y : {1, 50, 100}) {
        EXPECT_EQ(Pixel(1, y), inner) << y;
        EXPECT_EQ(Pixel(237, y), inner) << y;
    }
    for (POINT p : {POINT{2, 2}, POINT{236, 99}, POINT{150, 40}, POINT{220, 70}, POINT{2, 60}})
        EXPECT_EQ(Pixel(p.x, p.y), face) << p.x << "," << p.y;
}

TEST_F(PanelPaintTest, EveryPaintTakesExactly22RandomValuesWhateverTheUpdateRegion) {
    const RECT regions[] = {{0, 0, 239, 102}, {0, 0, 5, 5}, {200, 80, 239, 102}, {100, 50, 101, 51}};
    for (const RECT& region : regions) {
        uint32_t before = randomSequenceState;
        Repaint(&region);
        EXPECT_EQ(randomSequenceState, AdvanceRandomState(before, 22)) << region.left << "," << region.top;
    }
}

TEST_F(PanelPaintTest, TickOfThePanelsTimerRedrawsOnlyTheJitterBandWith22Values) {
    Repaint(nullptr);
    // Marks inside and just outside the band: the tick erases the first, never the second.
    Fill({2, 2, 237, 46}, kMarker);
    Fill({40, 46, 90, 48}, kMarker);
    uint32_t before = randomSequenceState;
    SendMessageA(panelWindow, WM_TIMER, panelTimerId, 0);
    EXPECT_EQ(randomSequenceState, AdvanceRandomState(before, 22));
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (POINT p : {POINT{2, 2}, POINT{236, 45}, POINT{150, 30}, POINT{2, 45}})
        EXPECT_EQ(Pixel(p.x, p.y), face) << p.x << "," << p.y;
    EXPECT_EQ(Pixel(40, 46), kMarker);
    EXPECT_EQ(Pixel(89, 47), kMarker);
    EXPECT_EQ(Pixel(1, 1), GetSysColor(COLOR_BTNSHADOW));
}

TEST_F(PanelPaintTest, TickOfAnotherTimerDrawsNothingAndTakesNoValue) {
    Repaint(nullptr);
    Fill({0, 0, 239, 102}, kMarker);
    uint32_t before = randomSequenceState;
    for (WPARAM other : {panelTimerId + 1, WPARAM{0}, WPARAM{1000}}) {
        EXPECT_EQ(SendMessageA(panelWindow, WM_TIMER, other, 0), 0);
    }
    EXPECT_EQ(randomSequenceState, before);
    RECT unchanged = InkBounds({0, 0, 239, 46}, kMarker);
    EXPECT_GT(unchanged.left, unchanged.right) << "something was drawn";
}

TEST_F(PanelPaintTest, ShakingTextsStayWithinTheirBoundsAndTheLabelsStayPut) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    RECT firstLabel = {}, firstPercent = {}, firstPrompt = {};
    bool promptMoved = false;
    for (int tick = 0; tick < 12; ++tick) {
        SCOPED_TRACE(tick);
        SendMessageA(panelWindow, WM_TIMER, panelTimerId, 0);
        // The prompt begins at x 8 to 11 and y 14 to 17 (second copies one more to the right);
        // the close box at x 215 to 219, y 4 to 7. Nothing else is drawn in the band.
        RECT prompt = InkBounds({2, 2, 200, 46}, face);
        RECT close = InkBounds({200, 2, 237, 46}, face);
        ASSERT_LE(prompt.left, prompt.right) << "no prompt";
        ASSERT_LE(close.left, close.right) << "no close box";
        EXPECT_GE(prompt.left, 8);
        EXPECT_GE(prompt.top, 14);
        EXPECT_LE(prompt.left, 11 + 16);  // the first character has ink within its cell
        EXPECT_LT(prompt.bottom, 46);
        EXPECT_GE(close.left, 215);
        EXPECT_GE(close.top, 4);
        EXPECT_LT(close.bottom, 46);
        // The label at (96, 47) and the "%" at (210, 48) are redrawn in place, not erased.
        RECT label = InkBounds({90, 44, 166, 72}, face);
        RECT percent = InkBounds({209, 44, 237, 72}, face);
        if (tick > 0 && !EqualRect(&prompt, &firstPrompt)) promptMoved = true;
        if (tick == 0) {
            firstPrompt = prompt;
            firstLabel = label;
            firstPercent = percent;
            EXPECT_GE(label.left, 96);
            EXPECT_GE(label.top, 47);
            EXPECT_GE(percent.left, 210);
            EXPECT_GE(percent.top, 48);
        }
        EXPECT_TRUE(EqualRect(&label, &firstLabel));
        EXPECT_TRUE(EqualRect(&percent, &firstPercent));
    }
    EXPECT_TRUE(promptMoved);
}

}  // namespace

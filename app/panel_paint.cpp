// The panel's painting: the face, the two frame lines and the texts on every paint, and the
// 50 ms tick that redraws the close box and the prompt at fresh random offsets so they shake.
// Places and offsets are those at 96 DPI, scaled to the panel's; the frame lines stay hairlines.
#include "app/panel.h"

#include "app/panel_state.h"
#include "app/panel_texts.h"
#include "convert/shake_warp.h"

constexpr int32_t kJitterRange = 4;        // offsets 0 to 3 pixels right and down
constexpr int32_t kCloseMarkInset = 24;    // from the right edge
constexpr int32_t kCloseMarkTop = 4;
constexpr int32_t kPromptLeft = 8;
constexpr int32_t kPromptTop = 14;
constexpr int32_t kPromptPitch = 12;
constexpr int32_t kJitterBandBottom = 46;  // the band the tick erases, just inside the frame
constexpr int32_t kShakeLabelLeft = 96;
constexpr int32_t kShakeLabelTop = 47;
constexpr int32_t kPercentLeft = 210;
constexpr int32_t kPercentTop = 48;

// A jitter offset: 0 to kJitterRange - 1 pixels at 96 DPI, one random value.
static int32_t JitterOffset() { return ScaleToPanelDpi(RandomBelow(kJitterRange)); }

// Shift_JIS text at a place given at 96 DPI.
static void DrawScaledShiftJisText(HDC dc, int32_t x, int32_t y, const char* text, int32_t byteCount) {
    DrawShiftJisText(dc, ScaleToPanelDpi(x), ScaleToPanelDpi(y), text, byteCount);
}

// Every shaking mark is drawn twice, one pixel (at 96 DPI) apart, which makes its strokes bold;
// x and y are already at the panel's DPI.
static void DrawBoldShiftJisText(HDC dc, int32_t x, int32_t y, const char* text, int32_t byteCount) {
    DrawShiftJisText(dc, x, y, text, byteCount);
    DrawShiftJisText(dc, x + ScaleToPanelDpi(1), y, text, byteCount);
}

static void DrawCloseMark(HDC dc, const char* mark) {
    int32_t dx = JitterOffset();
    int32_t dy = JitterOffset();
    DrawBoldShiftJisText(dc, static_cast<int32_t>(panelRect.right) - ScaleToPanelDpi(kCloseMarkInset) + dx,
                         ScaleToPanelDpi(kCloseMarkTop) + dy, mark, kCloseMarkBytes);
}

static void DrawDropPrompt(HDC dc) {
    for (int32_t i = 0; i < dropPromptCharCount; ++i) {
        int32_t dx = JitterOffset();
        int32_t dy = JitterOffset();
        DrawBoldShiftJisText(dc, ScaleToPanelDpi(kPromptLeft + kPromptPitch * i) + dx, ScaleToPanelDpi(kPromptTop) + dy,
                             kDropPrompt + 2 * i, 2);
    }
}

void DrawPanelTexts(HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ previousFont = panelJapaneseFont ? SelectObject(dc, panelJapaneseFont) : nullptr;
    DrawCloseMark(dc, kCloseCrossMark);
    DrawCloseMark(dc, kCloseSquareMark);  // over the cross
    DrawScaledShiftJisText(dc, kShakeLabelLeft, kShakeLabelTop, kShakeLabel, kShakeLabelBytes);
    DrawScaledShiftJisText(dc, kPercentLeft, kPercentTop, kPercentSign, 1);
    DrawDropPrompt(dc);
    if (previousFont != nullptr) SelectObject(dc, previousFont);
}

void PaintPanel(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    FillRect(dc, &panelRect, GetSysColorBrush(COLOR_BTNFACE));
    FrameRect(dc, &panelRect, GetSysColorBrush(COLOR_3DDKSHADOW));
    RECT inner = {panelRect.left + 1, panelRect.top + 1, panelRect.right - 1, panelRect.bottom - 1};
    FrameRect(dc, &inner, GetSysColorBrush(COLOR_BTNSHADOW));
    DrawPanelTexts(dc);
    EndPaint(window, &paint);
}

// Straight into the window's device context: no invalidation, only the band is erased.
void TickPanel(HWND window, WPARAM timerId) {
    if (timerId != panelTimerId) return;
    HDC dc = GetDC(window);
    RECT band = {panelRect.left + 2, panelRect.top + 2, panelRect.right - 2,
                 panelRect.top + ScaleToPanelDpi(kJitterBandBottom)};
    FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
    DrawPanelTexts(dc);
    ReleaseDC(window, dc);
}

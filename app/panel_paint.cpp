// The panel's painting: the face, the two frame lines and the texts on every paint, and the
// 50 ms tick that redraws the close box and the prompt at fresh random offsets so they shake.
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

// Every shaking mark is drawn twice, one pixel apart, which makes its strokes bold.
static void DrawBoldShiftJisText(HDC dc, int32_t x, int32_t y, const char* text, int32_t byteCount) {
    DrawShiftJisText(dc, x, y, text, byteCount);
    DrawShiftJisText(dc, x + 1, y, text, byteCount);
}

static void DrawCloseMark(HDC dc, const char* mark) {
    int32_t dx = RandomBelow(kJitterRange);
    int32_t dy = RandomBelow(kJitterRange);
    DrawBoldShiftJisText(dc, static_cast<int32_t>(panelRect.right) - kCloseMarkInset + dx,
                         kCloseMarkTop + dy, mark, kCloseMarkBytes);
}

static void DrawDropPrompt(HDC dc) {
    for (int32_t i = 0; i < dropPromptCharCount; ++i) {
        int32_t dx = RandomBelow(kJitterRange);
        int32_t dy = RandomBelow(kJitterRange);
        DrawBoldShiftJisText(dc, kPromptLeft + kPromptPitch * i + dx, kPromptTop + dy,
                             kDropPrompt + 2 * i, 2);
    }
}

void DrawPanelTexts(HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ previousFont = panelJapaneseFont ? SelectObject(dc, panelJapaneseFont) : nullptr;
    DrawCloseMark(dc, kCloseCrossMark);
    DrawCloseMark(dc, kCloseSquareMark);  // over the cross
    DrawShiftJisText(dc, 96, 47, kShakeLabel, kShakeLabelBytes);
    DrawShiftJisText(dc, 210, 48, kPercentSign, 1);
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
                 panelRect.top + kJitterBandBottom};
    FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
    DrawPanelTexts(dc);
    ReleaseDC(window, dc);
}

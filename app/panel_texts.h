// The panel's Japanese texts as Shift_JIS bytes, and how they reach the screen on systems whose
// ANSI code page is Shift_JIS and on all others.
#pragma once

#include <windows.h>

#include <cstdint>

#include "convert/shift_jis.h"

extern const char kCloseCrossMark[];    // "×"
extern const char kCloseSquareMark[];   // "□"
extern const char kShakeLabel[];        // "揺れ具合"
extern const char kPercentSign[];       // "%"
extern const char kDropPrompt[];        // "ファイルをドロップ"
extern const char kSizeLimitCaption[];  // "高さ/幅サイズ制限"
constexpr int32_t kCloseMarkBytes = 2;
constexpr int32_t kShakeLabelBytes = 8;
constexpr int32_t kDropPromptBytes = 18;

// A new font for panelJapaneseFont at panelDpi; null where none is needed (see panel_state.h).
HFONT CreatePanelJapaneseFont();
// TextOutA of the bytes on a Shift_JIS system; elsewhere their Unicode form through TextOutW.
void DrawShiftJisText(HDC dc, int x, int y, const char* text, int32_t byteCount);
// A child control whose caption is Shift_JIS text, readable whatever the ANSI code page once
// SetControlFonts has given it panelJapaneseFont.
HWND CreateShiftJisControl(HWND parent, const char* className, const char* text, DWORD style,
                           int x, int y, int width, int height, int id);

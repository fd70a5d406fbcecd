// The panel's process-wide state, shared by the window procedure and the painting. Everything is
// zero (the DPIs 96) until start-up fills it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "convert/image_operations.h"

extern HINSTANCE panelInstance;
extern HWND panelWindow;  // stored even when the creation failed; owner of the warning boxes
// The image operations the drop's conversions use: the image library's, or a test's double.
extern const ImageOperations* panelImageOperations;
extern RECT panelRect;    // the whole client area: 0, 0, 239, 102 at 96 DPI, scaled with panelDpi
// The DPI the panel is laid out for (96 = 100 %): the system's at start, its monitor's after a
// move to a monitor of another scale. systemDpi is the one the system fonts are made for.
extern int32_t panelDpi;
extern int32_t systemDpi;
extern HWND shakeEdit;
extern HWND sizeLimitCheckbox;
extern HWND limitEdit;
// The control that has the keyboard when the panel is active again; null: the shake edit.
extern HWND panelFocus;
extern UINT_PTR panelTimerId;         // what SetTimer returned; ticks with another id are ignored
extern int32_t dropPromptCharCount;   // two-byte characters of the prompt drawn per paint
extern bool panelDragging;
extern int32_t dragAnchorX;           // client point grabbed at the press, 0 to 65535
extern int32_t dragAnchorY;
// Where the ANSI code page is not Shift_JIS, the font that the Japanese texts are drawn in;
// null on a Shift_JIS system at the system DPI, where the platform's default fonts already show them.
extern HFONT panelJapaneseFont;
// The edits' font where panelDpi is not systemDpi (the system font scaled); null otherwise.
extern HFONT panelControlFont;

// Storage of the panel's process-wide state.
#include "app/panel_state.h"

HINSTANCE panelInstance;
HWND panelWindow;
const ImageOperations* panelImageOperations;
RECT panelRect;
int32_t panelDpi = USER_DEFAULT_SCREEN_DPI;
int32_t systemDpi = USER_DEFAULT_SCREEN_DPI;
HWND shakeEdit;
HWND sizeLimitCheckbox;
HWND limitEdit;
HWND panelFocus;
UINT_PTR panelTimerId;
int32_t dropPromptCharCount;
bool panelDragging;
int32_t dragAnchorX;
int32_t dragAnchorY;
HFONT panelJapaneseFont;
HFONT panelControlFont;

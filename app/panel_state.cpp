// Storage of the panel's process-wide state.
#include "app/panel_state.h"

HINSTANCE panelInstance;
HWND panelWindow;
const ImageOperations* panelImageOperations;
RECT panelRect;
HWND shakeEdit;
HWND sizeLimitCheckbox;
HWND limitEdit;
UINT_PTR panelTimerId;
int32_t dropPromptCharCount;
bool panelDragging;
int32_t dragAnchorX;
int32_t dragAnchorY;
HFONT panelJapaneseFont;

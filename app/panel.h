// The panel: its window class, the borderless popup with its three controls, the window
// procedure (one handler per message), the painting and the scaling to the monitor's DPI.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int32_t kPanelWidth = 239;
constexpr int32_t kPanelHeight = 102;
constexpr UINT_PTR kPanelTimerEvent = 1;
constexpr UINT kPanelTimerPeriodMs = 50;
constexpr int kShakeEditId = 1000;
constexpr int kSizeLimitCheckboxId = 1001;
constexpr int kLimitEditId = 1002;
// A control's place in the panel at 96 DPI.
struct ControlPlace {
    int32_t x, y, width, height;
};
constexpr ControlPlace kShakeEditPlace = {168, 48, 40, 20};
constexpr ControlPlace kSizeLimitCheckboxPlace = {8, 72, 156, 20};
constexpr ControlPlace kLimitEditPlace = {168, 73, 40, 20};
extern const char kPanelClassName[];  // "WobzyClass"

// A child window's identifier travels in the menu argument of its creation.
inline HMENU ControlIdAsMenu(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// The prompt's length in characters, taken from its Shift_JIS bytes; set before the first paint.
void CountDropPromptCharacters();
void RegisterPanelClass(HINSTANCE instance);
// False when the window could not be created.
bool CreatePanel(HINSTANCE instance, int showCommand);
LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Scaling (panel_dpi.cpp). A length of the panel at 96 DPI, at panelDpi.
int32_t ScaleToPanelDpi(int32_t length);
// Takes the system's DPI as the panel's before the panel is created.
void ReadSystemDpi();
// The DPI of the window's monitor where the system tells it (Windows 10 1607 on), else panelDpi.
int32_t PanelWindowDpi(HWND window);
// Lays the panel out for `dpi`: fonts, its size (at `suggested`, the system's choice after a move
// to another monitor, or where it is), the controls' places and fonts; then repaints it.
void ApplyPanelDpi(HWND window, int32_t dpi, const RECT* suggested);
// The panel's fonts made afresh for panelDpi, before the controls exist.
void PreparePanelFonts();
// The controls' fonts for panelDpi (null: the system's).
void SetControlFonts();

// Painting (panel_paint.cpp).
void PaintPanel(HWND window);
void TickPanel(HWND window, WPARAM timerId);
// The close box, the shake label, the "%" and the prompt, at fresh offsets: 22 random values.
void DrawPanelTexts(HDC dc);

// The panel: its window class, the borderless popup with its three controls, the window
// procedure (one handler per message) and the painting.
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
extern const char kPanelClassName[];  // "WobzyClass"

// A child window's identifier travels in the menu argument of its creation.
inline HMENU ControlIdAsMenu(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// The prompt's length in characters, taken from its Shift_JIS bytes; set before the first paint.
void CountDropPromptCharacters();
void RegisterPanelClass(HINSTANCE instance);
// False when the window could not be created.
bool CreatePanel(HINSTANCE instance, int showCommand);
LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Painting (panel_paint.cpp).
void PaintPanel(HWND window);
void TickPanel(HWND window, WPARAM timerId);
// The close box, the shake label, the "%" and the prompt, at fresh offsets: 22 random values.
void DrawPanelTexts(HDC dc);

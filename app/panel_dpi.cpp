// The panel at the DPI of its monitor. Its geometry is drawn at 96 DPI (100 %); every place,
// size and jitter is scaled from there, so that at 100 % the panel is exactly what it has always
// been and at 150 % or 200 % it is as large as it looks at 100 % on an ordinary screen.
//
// Why scaling of our own rather than leaving it to Windows: a program that does not declare
// itself DPI aware gets its window stretched as a bitmap, which blurs the prompt and the
// controls; GDI scaling (the manifest's gdiScaling) draws GDI texts sharply but exists from
// Windows 10 1703 on only, and Wine implements none of it: there an unaware panel keeps its
// 239 x 102 pixels while the system font grows and the checkbox runs into the limit edit. The
// manifest therefore declares per-monitor awareness (v2, so that Windows scales the warning box
// and the non-client parts), and the panel follows WM_DPICHANGED when it is dragged to a monitor
// of another scale.
#include "app/panel.h"

#include "app/panel_state.h"
#include "app/panel_texts.h"

int32_t ScaleToPanelDpi(int32_t length) { return MulDiv(length, panelDpi, USER_DEFAULT_SCREEN_DPI); }

// A process that is DPI aware is told the real pixels of the system DPI here.
void ReadSystemDpi() {
    HDC screen = GetDC(nullptr);
    systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    panelDpi = systemDpi;
}

int32_t PanelWindowDpi(HWND window) {
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
    const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(reinterpret_cast<void*>(found));
    const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? static_cast<int32_t>(dpi) : panelDpi;
}

// The edits draw in the system font, made for systemDpi; elsewhere they need it scaled.
static HFONT CreateControlFont() {
    if (panelDpi == systemDpi) return nullptr;
    LOGFONTA font = {};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof(font), &font);
    font.lfHeight = MulDiv(font.lfHeight, panelDpi, systemDpi);
    font.lfWidth = MulDiv(font.lfWidth, panelDpi, systemDpi);
    return CreateFontIndirectA(&font);
}

static void DeleteFont(HFONT font) {
    if (font != nullptr) DeleteObject(font);
}

void PreparePanelFonts() {
    DeleteFont(panelJapaneseFont);
    DeleteFont(panelControlFont);
    panelJapaneseFont = CreatePanelJapaneseFont();
    panelControlFont = CreateControlFont();
}

void SetControlFonts() {
    SendMessageA(shakeEdit, WM_SETFONT, reinterpret_cast<WPARAM>(panelControlFont), TRUE);
    SendMessageA(sizeLimitCheckbox, WM_SETFONT, reinterpret_cast<WPARAM>(panelJapaneseFont), TRUE);
    SendMessageA(limitEdit, WM_SETFONT, reinterpret_cast<WPARAM>(panelControlFont), TRUE);
}

static void PlaceControl(HWND control, ControlPlace place) {
    SetWindowPos(control, nullptr, ScaleToPanelDpi(place.x), ScaleToPanelDpi(place.y), ScaleToPanelDpi(place.width),
                 ScaleToPanelDpi(place.height), SWP_NOZORDER | SWP_NOACTIVATE);
}

// The old fonts are deleted only once no control draws with them any more.
void ApplyPanelDpi(HWND window, int32_t dpi, const RECT* suggested) {
    panelDpi = dpi;
    panelRect = RECT{0, 0, ScaleToPanelDpi(kPanelWidth), ScaleToPanelDpi(kPanelHeight)};
    HFONT oldJapaneseFont = panelJapaneseFont;
    HFONT oldControlFont = panelControlFont;
    panelJapaneseFont = CreatePanelJapaneseFont();
    panelControlFont = CreateControlFont();
    SetControlFonts();
    DeleteFont(oldJapaneseFont);
    DeleteFont(oldControlFont);
    RECT now = {};
    GetWindowRect(window, &now);
    const RECT& at = suggested != nullptr ? *suggested : now;
    SetWindowPos(window, nullptr, at.left, at.top, panelRect.right, panelRect.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceControl(shakeEdit, kShakeEditPlace);
    PlaceControl(sizeLimitCheckbox, kSizeLimitCheckboxPlace);
    PlaceControl(limitEdit, kLimitEditPlace);
    InvalidateRect(window, nullptr, TRUE);
}

// The panel window: class registration, creation centred on the desktop, the three controls and
// the keyboard among them, closing, dragging with the left button, the move to a monitor of
// another DPI, and the file drop that converts every dropped path.
#include "app/panel.h"

#include <shellapi.h>

#include <climits>
#include <cstdlib>

#include "app/panel_state.h"
#include "app/panel_texts.h"
#include "convert/conversion_job.h"
#include "convert/warning_box.h"
#include "imaging/unicode.h"

const char kPanelClassName[] = "WobzyClass";
static const char kPanelTitle[] = "Wobzy";
static const char kIconName[] = "IDI_WOBZY";
static const char kDefaultSizeLimit[] = "400";

// Tab and Shift+Tab go round the three controls in creation order (the message loop passes keys
// through IsDialogMessage).
constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
constexpr DWORD kCheckboxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
// The close-box hit area at 96 DPI: centred 18 pixels left of the right edge and 10 below the top.
constexpr int32_t kCloseBoxInsetX = 18;
constexpr int32_t kCloseBoxCentreY = 10;
constexpr int32_t kCloseBoxHalfWidth = 8;
constexpr int32_t kCloseBoxHalfHeight = 12;
constexpr int kSettingTextCapacity = 31;  // 30 characters and the NUL

void CountDropPromptCharacters() {
    dropPromptCharCount = static_cast<int32_t>(static_cast<uint32_t>(kDropPromptBytes) >> 1);
}

void RegisterPanelClass(HINSTANCE instance) {
    WNDCLASSEXA panelClass = {};
    panelClass.cbSize = sizeof(panelClass);
    panelClass.style = CS_HREDRAW | CS_VREDRAW;
    panelClass.lpfnWndProc = PanelWindowProc;
    panelClass.hInstance = instance;
    panelClass.hIcon = LoadIconA(instance, kIconName);
    panelClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    panelClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    panelClass.lpszClassName = kPanelClassName;
    RegisterClassExA(&panelClass);
}

bool CreatePanel(HINSTANCE instance, int /*showCommand: the panel always shows normally*/) {
    panelInstance = instance;
    panelFocus = nullptr;
    ReadSystemDpi();
    PreparePanelFonts();
    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    panelRect = RECT{0, 0, ScaleToPanelDpi(kPanelWidth), ScaleToPanelDpi(kPanelHeight)};
    const int32_t width = static_cast<int32_t>(panelRect.right);
    const int32_t height = static_cast<int32_t>(panelRect.bottom);
    // Right and bottom edges only; >> on the signed difference halves toward minus infinity.
    int32_t x = (static_cast<int32_t>(desktop.right) - width) >> 1;
    int32_t y = (static_cast<int32_t>(desktop.bottom) - height) >> 1;
    panelWindow = CreateWindowExA(0, kPanelClassName, kPanelTitle, WS_POPUP, x, y, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (panelWindow == nullptr) return false;
    const int32_t monitorDpi = PanelWindowDpi(panelWindow);
    if (monitorDpi != panelDpi) ApplyPanelDpi(panelWindow, monitorDpi, nullptr);
    ShowWindow(panelWindow, SW_SHOW);
    UpdateWindow(panelWindow);
    DragAcceptFiles(panelWindow, TRUE);
    return true;
}

// The digits of the edits read the same in every code page: the ANSI call loses nothing.
static HWND CreateEdit(HWND panel, const char* text, ControlPlace place, int id) {
    return CreateWindowExA(0, "EDIT", text, kEditStyle, ScaleToPanelDpi(place.x), ScaleToPanelDpi(place.y),
                           ScaleToPanelDpi(place.width), ScaleToPanelDpi(place.height), panel, ControlIdAsMenu(id),
                           panelInstance, nullptr);
}

static LRESULT OnCreate(HWND window) {
    char shakeText[16];
    wsprintfA(shakeText, "%d", kDefaultShakePercent);
    shakeEdit = CreateEdit(window, shakeText, kShakeEditPlace, kShakeEditId);
    const ControlPlace box = kSizeLimitCheckboxPlace;
    sizeLimitCheckbox = CreateShiftJisControl(window, "BUTTON", kSizeLimitCaption, kCheckboxStyle, ScaleToPanelDpi(box.x),
                                              ScaleToPanelDpi(box.y), ScaleToPanelDpi(box.width),
                                              ScaleToPanelDpi(box.height), kSizeLimitCheckboxId);
    limitEdit = CreateEdit(window, kDefaultSizeLimit, kLimitEditPlace, kLimitEditId);
    SetControlFonts();
    return 0;
}

static bool HitsCloseBox(int32_t x, int32_t y) {
    return std::abs(x - (static_cast<int32_t>(panelRect.right) - ScaleToPanelDpi(kCloseBoxInsetX))) <
               ScaleToPanelDpi(kCloseBoxHalfWidth) &&
           std::abs(y - ScaleToPanelDpi(kCloseBoxCentreY)) < ScaleToPanelDpi(kCloseBoxHalfHeight);
}

static LRESULT OnLeftButtonDown(HWND window, LPARAM lParam) {
    dragAnchorX = static_cast<int32_t>(LOWORD(lParam));
    dragAnchorY = static_cast<int32_t>(HIWORD(lParam));
    if (HitsCloseBox(dragAnchorX, dragAnchorY)) SendMessageA(window, WM_CLOSE, 0, 0);
    panelDragging = true;
    SetCapture(window);
    return 0;
}

static void EndDrag() {
    panelDragging = false;
    ReleaseCapture();
}

static LRESULT OnMouseMove(HWND window, WPARAM keys) {
    if (!panelDragging) return 0;
    // A release that never reached the panel must not leave it following a free mouse.
    if ((keys & MK_LBUTTON) == 0) {
        EndDrag();
        return 0;
    }
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetWindowPos(window, HWND_TOP, cursor.x - dragAnchorX, cursor.y - dragAnchorY, 0, 0,
                 SWP_NOSIZE | SWP_SHOWWINDOW);
    return 0;
}

static LRESULT OnLeftButtonUp() {
    EndDrag();
    return 0;
}

// Without the capture the release may go to another window: the drag ends here instead.
static LRESULT OnCaptureChanged(HWND window, LPARAM newCaptureWindow) {
    if (reinterpret_cast<HWND>(newCaptureWindow) != window) panelDragging = false;
    return 0;
}

static void ReadConversionSettings() {
    char text[kSettingTextCapacity] = {};
    GetWindowTextA(shakeEdit, text, kSettingTextCapacity);
    conversionSettings.shakePercent = ParseSettingNumber(text);
    conversionSettings.limitEnabled = SendMessageA(sizeLimitCheckbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    GetWindowTextA(limitEdit, text, kSettingTextCapacity);
    conversionSettings.sizeLimit = ParseSettingNumber(text);
}

// Each path read whole, as UTF-16 so that any name the user can see arrives intact, and handed to
// the conversion as UTF-8. A path that cannot be held in memory is skipped.
static void ConvertDroppedFile(const ConversionHost& host, HDROP drop, UINT index) {
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length >= UINT_MAX / sizeof(wchar_t)) return;  // no room for the NUL
    wchar_t* widePath = static_cast<wchar_t*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
    if (widePath == nullptr) return;
    DragQueryFileW(drop, index, widePath, length + 1);
    char* path = imaging::WideToUtf8(widePath);
    std::free(widePath);
    if (path == nullptr) return;
    ConvertFile(host, path);
    std::free(path);
}

static LRESULT OnDropFiles(HWND window, WPARAM dropHandle) {
    HDROP drop = reinterpret_cast<HDROP>(dropHandle);
    ReadConversionSettings();
    // A file that fails is reported in a warning box owned by the panel.
    const ConversionHost host{panelImageOperations, ReportConversionError, nullptr, window};
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) ConvertDroppedFile(host, drop, index);
    DragFinish(drop);
    return 0;
}

static LRESULT OnClose(HWND window) {
    DestroyWindow(window);
    return 0;
}

// Escape reaches the panel from IsDialogMessage as IDCANCEL and closes it as the close box does.
// Enter comes as IDOK and, like the controls' notifications, changes nothing.
static LRESULT OnCommand(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == IDCANCEL) SendMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}

// The keyboard goes back to the control that had it when the panel was last active; at first,
// to the shake edit.
static LRESULT OnActivate(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) panelFocus = focus;
    } else {
        SetFocus(panelFocus != nullptr ? panelFocus : shakeEdit);
    }
    return 0;
}

// Dragged onto a monitor of another scale: laid out anew at the place Windows suggests.
static LRESULT OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    ApplyPanelDpi(window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
    return 0;
}

static LRESULT OnDestroy() {
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return OnCreate(window);
        case WM_DESTROY: return OnDestroy();
        case WM_PAINT: PaintPanel(window); return 0;
        case WM_CLOSE: return OnClose(window);
        case WM_TIMER: TickPanel(window, wParam); return 0;
        case WM_MOUSEMOVE: return OnMouseMove(window, wParam);
        case WM_LBUTTONDOWN: return OnLeftButtonDown(window, lParam);
        case WM_LBUTTONUP: return OnLeftButtonUp();
        case WM_CAPTURECHANGED: return OnCaptureChanged(window, lParam);
        case WM_DROPFILES: return OnDropFiles(window, wParam);
        case WM_COMMAND: return OnCommand(window, wParam);
        case WM_ACTIVATE: return OnActivate(window, wParam);
        case WM_DPICHANGED: return OnDpiChanged(window, wParam, lParam);
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

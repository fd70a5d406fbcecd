// The Windows report of a file that could not be converted: a warning box owned by the panel,
// its Shift_JIS title shown as Japanese and whole, and the path shown as the user named it,
// whatever the ANSI code page.
#include "convert/warning_box.h"

#include <windows.h>

#include <cstdlib>

#include "convert/shift_jis.h"
#include "imaging/unicode.h"

// The box is sized for its text and its button; a short path leaves it too narrow for the long
// Japanese title, which the caption then cuts off. Before it shows, a box that is narrower than
// its title needs (text, close button, frame, and as much again as the close button for the
// caption's margins) is widened about its centre, never beyond the screen, its contents moved
// along so that they stay centred.
static HHOOK captionFitHook;

static int32_t CaptionTextWidth(HWND box) {
    wchar_t caption[kCaptionCapacity] = {};
    const int length = GetWindowTextW(box, caption, kCaptionCapacity);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (length <= 0 || !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return 0;
    HDC dc = GetDC(box);
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, caption, length, &extent);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(box, dc);
    return static_cast<int32_t>(extent.cx);
}

static void MoveChildrenRight(HWND box, int32_t distance) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place = {};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(child, nullptr, place.left + distance, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

static void FitBoxToCaption(HWND box) {
    const int32_t needed = CaptionTextWidth(box) + 2 * GetSystemMetrics(SM_CXSIZE) + 2 * GetSystemMetrics(SM_CXFIXEDFRAME);
    RECT window = {};
    GetWindowRect(box, &window);
    const int32_t width = window.right - window.left;
    const int32_t widest = GetSystemMetrics(SM_CXSCREEN);
    const int32_t wanted = needed < widest ? needed : widest;
    if (wanted <= width) return;
    const int32_t growth = wanted - width;
    int32_t left = window.left - growth / 2;
    if (left < 0) left = 0;
    if (left + wanted > widest) left = widest - wanted;
    SetWindowPos(box, nullptr, left, window.top, wanted, window.bottom - window.top, SWP_NOZORDER | SWP_NOACTIVATE);
    MoveChildrenRight(box, growth / 2);
}

static LRESULT CALLBACK FitCaptionWhenShown(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[8] = {};
        GetClassNameA(box, className, sizeof(className));
        if (lstrcmpA(className, "#32770") == 0) FitBoxToCaption(box);
    }
    return CallNextHookEx(captionFitHook, code, wParam, lParam);
}

// On a Shift_JIS system, a path that Shift_JIS can hold goes to MessageBoxA as those bytes.
static bool ShowShiftJisWarning(HWND owner, const wchar_t* path, const char* caption) {
    char* shiftJisPath = WideToShiftJis(path);
    if (shiftJisPath == nullptr) return false;
    MessageBoxA(owner, shiftJisPath, caption, MB_ICONWARNING);
    std::free(shiftJisPath);
    return true;
}

// Elsewhere, or for a name with characters Shift_JIS lacks, the box gets the Unicode texts.
static bool ShowWideWarning(HWND owner, const wchar_t* path, const char* caption) {
    wchar_t wideCaption[kCaptionCapacity];
    if (ShiftJisToWide(caption, -1, wideCaption, kCaptionCapacity) == 0) return false;
    MessageBoxW(owner, path, wideCaption, MB_ICONWARNING);
    return true;
}

void ReportConversionError(void* panel, ConversionFailure failure, const char* path) {
    HWND owner = static_cast<HWND>(panel);
    // Only this thread's boxes, and only while this one is open.
    captionFitHook = SetWindowsHookExA(WH_CBT, FitCaptionWhenShown, nullptr, GetCurrentThreadId());
    char caption[kCaptionCapacity];
    FormatConversionErrorCaption(failure, caption);
    wchar_t* widePath = imaging::Utf8ToWide(path);
    const bool shown = widePath != nullptr && ((AnsiCodePageIsShiftJis() && ShowShiftJisWarning(owner, widePath, caption)) ||
                                               ShowWideWarning(owner, widePath, caption));
    std::free(widePath);
    // As the last resort, the bytes as they are.
    if (!shown) MessageBoxA(owner, path, caption, MB_ICONWARNING);
    if (captionFitHook != nullptr) UnhookWindowsHookEx(captionFitHook);
    captionFitHook = nullptr;
}

// The Windows report of a file that could not be converted: a warning box owned by the panel,
// its Shift_JIS title shown as Japanese and the path shown as the user named it, whatever the
// ANSI code page.
#include "convert/warning_box.h"

#include <windows.h>

#include <cstdlib>

#include "convert/shift_jis.h"
#include "imaging/unicode.h"

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
    char caption[kCaptionCapacity];
    FormatConversionErrorCaption(failure, caption);
    wchar_t* widePath = imaging::Utf8ToWide(path);
    const bool shown = widePath != nullptr && ((AnsiCodePageIsShiftJis() && ShowShiftJisWarning(owner, widePath, caption)) ||
                                               ShowWideWarning(owner, widePath, caption));
    std::free(widePath);
    // As the last resort, the bytes as they are.
    if (!shown) MessageBoxA(owner, path, caption, MB_ICONWARNING);
}

// The Windows report of a file that could not be converted: a warning box owned by the panel,
// its Shift_JIS title shown as Japanese whatever the ANSI code page.
#include "convert/warning_box.h"

#include <windows.h>

#include <cstdlib>

#include "convert/shift_jis.h"

// The path (in the ANSI code page) as UTF-16 in a new buffer; null when that fails.
static wchar_t* AnsiPathToWide(const char* path) {
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0 || static_cast<size_t>(length) > SIZE_MAX / sizeof(wchar_t)) return nullptr;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(static_cast<size_t>(length) * sizeof(wchar_t)));
    if (wide == nullptr) return nullptr;
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, length);
    return wide;
}

// Where the ANSI code page is not Shift_JIS, MessageBoxA would show the title's bytes as other
// characters: the box gets the Unicode title, and the path read in the ANSI code page.
static bool ShowWideWarning(HWND owner, const char* path, const char* caption) {
    wchar_t wideCaption[kCaptionCapacity];
    if (ShiftJisToWide(caption, -1, wideCaption, kCaptionCapacity) == 0) return false;
    wchar_t* widePath = AnsiPathToWide(path);
    if (widePath == nullptr) return false;
    MessageBoxW(owner, widePath, wideCaption, MB_ICONWARNING);
    std::free(widePath);
    return true;
}

void ReportConversionError(void* panel, ConversionFailure failure, const char* path) {
    HWND owner = static_cast<HWND>(panel);
    char caption[kCaptionCapacity];
    FormatConversionErrorCaption(failure, caption);
    if (!AnsiCodePageIsShiftJis() && ShowWideWarning(owner, path, caption)) return;
    // On a Shift_JIS system, and as the last resort elsewhere, the bytes as they are.
    MessageBoxA(owner, path, caption, MB_ICONWARNING);
}

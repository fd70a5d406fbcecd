// Shift_JIS texts on Windows systems of any code page.
#include "convert/shift_jis.h"

#include <windows.h>

#include <cstdlib>

bool AnsiCodePageIsShiftJis() { return GetACP() == kShiftJisCodePage; }

int ShiftJisToWide(const char* text, int32_t byteCount, wchar_t* wide, int capacity) {
    return MultiByteToWideChar(kShiftJisCodePage, 0, text, byteCount, wide, capacity);
}

char* WideToShiftJis(const wchar_t* text) {
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return nullptr;
    char* shiftJis = static_cast<char*>(std::malloc(size_t(bytes)));
    if (shiftJis != nullptr) WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text, -1, shiftJis, bytes, nullptr, nullptr);
    return shiftJis;
}

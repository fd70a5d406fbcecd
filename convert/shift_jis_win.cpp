// Shift_JIS texts on Windows systems of any code page.
#include "convert/shift_jis.h"

#include <windows.h>

bool AnsiCodePageIsShiftJis() { return GetACP() == kShiftJisCodePage; }

int ShiftJisToWide(const char* text, int32_t byteCount, wchar_t* wide, int capacity) {
    return MultiByteToWideChar(kShiftJisCodePage, 0, text, byteCount, wide, capacity);
}

// The program's Japanese texts are Shift_JIS bytes (code page 932). Where the system's ANSI code
// page is another, the Windows calls that show them get their Unicode form instead.
#pragma once

#include <cstdint>

constexpr unsigned kShiftJisCodePage = 932;

#ifdef _WIN32
bool AnsiCodePageIsShiftJis();

// The UTF-16 form of `byteCount` Shift_JIS bytes (-1: up to and with the NUL) in `wide`, which
// holds `capacity` units; returns the number of units written, 0 when they do not fit.
int ShiftJisToWide(const char* text, int32_t byteCount, wchar_t* wide, int capacity);

// The Shift_JIS bytes of `text` in a new buffer (free it with std::free); null when a character
// has no Shift_JIS form or memory runs out.
char* WideToShiftJis(const wchar_t* text);
#endif

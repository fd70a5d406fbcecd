// The title of the box that reports a file that could not be converted.
#include "convert/warning_box.h"

#include <cstring>

// "このファイルは変換できませんでした(code:" in Shift_JIS.
const char kConversionErrorTitle[] = "\x82\xB1\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCD\x95\xCF\x8A\xB7\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD" "(code:";
static_assert(sizeof(kConversionErrorTitle) == 41, "40 bytes of title and the NUL");

void FormatConversionErrorCaption(int32_t code, char* out) {
    std::memcpy(out, kConversionErrorTitle, sizeof(kConversionErrorTitle) - 1);
    char* p = out + sizeof(kConversionErrorTitle) - 1;
    // Digits of the magnitude in unsigned arithmetic, so even INT32_MIN has one.
    uint32_t magnitude = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
    if (code < 0) *p++ = '-';
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) *p++ = digits[--count];
    *p++ = ')';
    *p = '\0';
}

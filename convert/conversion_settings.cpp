// The process-wide conversion settings and the reading of a number typed into a settings edit.
#include "convert/conversion_job.h"

ConversionSettings conversionSettings;

static bool IsSettingSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int32_t ParseSettingNumber(const char* text) {
    while (IsSettingSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    // Accumulated unsigned: the same bits as signed 32-bit arithmetic that wraps on overflow.
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
    return static_cast<int32_t>(negative ? 0u - value : value);
}

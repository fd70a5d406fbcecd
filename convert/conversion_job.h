// The conversion of one dropped file into its five-frame shaking GIF, and the settings it reads.
#pragma once

#include <cstdint>

// Read from the panel at every drop (or from the command line) before the first file.
struct ConversionSettings {
    int32_t shakePercent;
    bool limitEnabled;
    int32_t sizeLimit;  // pixels; kept even while the limit is off
};
extern ConversionSettings conversionSettings;

// Converts `path` into path + "_wob.gif"; a failing step is reported with its code
// (0 load, 1 prepare, 2-6 copies 1-5, 7 save) through ReportConversionError.
void ConvertFile(const char* path);

// The number in a settings edit: leading white space, one optional sign, decimal digits up to
// the first non-digit, wrapping in 32 bits; 0 when there are no digits.
int32_t ParseSettingNumber(const char* text);

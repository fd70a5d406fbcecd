// The report of a file that could not be converted: a warning box owned by the panel, titled
// "このファイルは変換できませんでした(code:N)" and naming the file.
#pragma once

#include <cstdint>

#include "convert/conversion_job.h"

// "このファイルは変換できませんでした(code:" in Shift_JIS, 40 bytes.
extern const char kConversionErrorTitle[];

// Writes the box title for `code` into `out` (at least kCaptionCapacity bytes), NUL-terminated.
constexpr int kCaptionCapacity = 64;
void FormatConversionErrorCaption(int32_t code, char* out);

#ifdef _WIN32
// Shows the warning box for `path` with the failure's code, owned by `panel` (the panel's HWND,
// passed as the conversion host's context); returns when the user has closed it.
void ReportConversionError(void* panel, ConversionFailure failure, const char* path);
#endif

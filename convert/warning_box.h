// How a file that could not be converted is reported: a warning box owned by the panel in the
// Windows program, a line on stderr in the command line.
#pragma once

#include <cstdint>

// "このファイルは変換できませんでした(code:" in Shift_JIS, 40 bytes.
extern const char kConversionErrorTitle[];

// Writes the box title for `code` into `out` (at least kCaptionCapacity bytes), NUL-terminated.
constexpr int kCaptionCapacity = 64;
void FormatConversionErrorCaption(int32_t code, char* out);

// Shows the failure of `path` with `code`; returns when the user has seen it.
void ReportConversionError(int32_t code, const char* path);

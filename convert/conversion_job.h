// The conversion of one dropped file into its five-frame shaking GIF: the settings it reads, the
// failures it reports, and what the program hands it (its image operations and its reporter).
#pragma once

#include <cstdint>

#include "convert/image_operations.h"

constexpr int32_t kDefaultShakePercent = 20;  // the panel's and the command line's starting value
constexpr int32_t kFrameCount = 5;
constexpr int32_t kFrameDelay = 6;            // hundredths of a second per frame
extern const char kOutputSuffix[];            // "_wob.gif", appended to the source's path

// Read from the panel at every drop (or from the command line) before the first file.
struct ConversionSettings {
    int32_t shakePercent;
    bool limitEnabled;
    int32_t sizeLimit;  // pixels; kept even while the limit is off
};
extern ConversionSettings conversionSettings;

// Why a file was not converted: one code per failing step, as the user sees it.
enum ConversionFailure : int32_t {
    kLoadFailed = 0,                                // the file cannot be read as a picture
    kPrepareFailed = 1,                             // the picture cannot be prepared
    kFirstCopyFailed = 2,                           // copy n (1-based) fails with kFirstCopyFailed + n - 1
    kSaveFailed = kFirstCopyFailed + kFrameCount,   // the GIF could not be written
};

// What a program hands its conversions. `context` is the program's own, passed back to both
// callbacks: the panel's window (owner of the warning box), the command line's record of a file.
struct ConversionHost {
    const ImageOperations* images;
    // Shows that `path` could not be converted; returns when the user has seen it.
    void (*reportError)(void* context, ConversionFailure failure, const char* path);
    // When not null, sees the frames exactly as they are about to be saved.
    void (*observeFrames)(void* context, const ImageHandle* frames, int32_t count);
    void* context;
    // Where the GIF goes; null for beside the source, under its path followed by "_wob.gif".
    const char* outputPath = nullptr;
};

// Converts `path` into path + "_wob.gif" (or host.outputPath) with the process-wide settings; a
// failing step is reported through host.reportError with its code, and every image taken is
// released on every path.
void ConvertFile(const ConversionHost& host, const char* path);

// path + "_wob.gif" in a new buffer (free it with std::free), or null when memory runs out.
char* MakeOutputName(const char* path);

// The number in a settings edit: leading white space, one optional sign, decimal digits up to
// the first non-digit, wrapping in 32 bits; 0 when there are no digits.
int32_t ParseSettingNumber(const char* text);

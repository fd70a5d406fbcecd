// A stand-in for the image library that records every call the conversion makes, holds small
// in-memory images for the warp, and can be told which operation fails. Used by the conversion
// tests and by the panel's drop tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/conversion_job.h"

struct DoubleImage {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> pixels;  // 24-bit bottom-up DIB rows, padded to 4 bytes
    imaging::BitmapInfoHeader header;
    ImageInfo info;
};

struct ImageOpsDouble {
    std::vector<std::string> calls;     // "load P", "prepare H", "info H", "duplicate H -> H2", ...
    bool failLoad = false;
    bool failPrepare = false;
    int failDuplicateNumber = 0;        // 1-based copy that comes back as 0; 0 = none
    bool failWrite = false;
    int32_t loadWidth = 4;              // size of the picture a load gives
    int32_t loadHeight = 3;
    std::vector<DoubleImage*> images;   // index = handle - 1
};
extern ImageOpsDouble imageOps;
// The double as the conversion takes it.
extern const ImageOperations kRecordingImageOperations;
// Converts with the double; a failure is recorded among the calls as "box CODE PATH".
ConversionHost RecordingHost();

void ResetImageOpsDouble();  // forgets all images and calls; sizes back to 4 x 3
DoubleImage* DoubleImageOf(ImageHandle handle);
// Pixel (x, y) of a double's image, y from the top, as COLORREF (0x00BBGGRR); records
// "pixel outside X,Y" among the calls for a point outside the picture.
uint32_t ReadDoublePixel(ImageHandle image, int32_t x, int32_t y);
// A new image outside the recorded calls, every pixel from colourAt(x, y) as COLORREF.
ImageHandle AddDoubleImage(int32_t width, int32_t height, uint32_t (*colourAt)(int32_t x, int32_t y));

// The image operations a conversion uses, gathered in one table so that a reader sees which set
// runs: the programs hand the conversion the image library's (kImagingLibraryOperations), the
// tests a double that records every call.
#pragma once

#include <cstdint>

#include "imaging/imaging.h"

using ImageHandle = imaging::Handle;  // 0 = no image
using ImageInfo = imaging::ImageInfo;

// The warp reads the source's pixels straight from the array that info() describes, one read per
// destination pixel and no call, so the library's ReadPixel is not among them.
struct ImageOperations {
    ImageHandle (*load)(const char* path);                               // 0 = failure
    int32_t (*prepare)(ImageHandle image);                               // 0 = failure
    const ImageInfo* (*info)(ImageHandle image);                         // valid for prepared images and copies
    ImageHandle (*duplicate)(ImageHandle image);                         // 0 = failure
    void (*resize)(ImageHandle image, int32_t width, int32_t height);    // -1 = the side that follows
    int32_t (*writeGif)(const char* path, const ImageHandle* frames, int32_t count, int32_t delay);  // 0 = failure
    void (*release)(ImageHandle image);
};

// Straight calls into the image library.
extern const ImageOperations kImagingLibraryOperations;

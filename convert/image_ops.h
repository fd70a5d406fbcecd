// The image operations a conversion uses, one function each. The programs link image_ops.cpp,
// which hands them to the image library; the tests link a double that records every call.
#pragma once

#include <cstdint>

#include "imaging/imaging.h"

using ImageHandle = imaging::Handle;  // 0 = no image
using ImageInfo = imaging::ImageInfo;

ImageHandle LoadImageFile(const char* path);          // 0 = failure
int32_t PrepareImage(ImageHandle image);              // 0 = failure
const ImageInfo* GetImageInfo(ImageHandle image);     // relied on for prepared images and copies
ImageHandle DuplicateImage(ImageHandle image);        // 0 = failure
uint32_t ReadImagePixel(ImageHandle image, int32_t x, int32_t y);  // COLORREF, y from the top
void ResizeImage(ImageHandle image, int32_t width, int32_t height);  // -1 = side that follows
int32_t WriteAnimatedGif(const char* path, const ImageHandle* frames, int32_t count, int32_t delay);
void ReleaseImage(ImageHandle image);

// When set, sees the frames just before WriteAnimatedGif encodes them (the command line's --frames).
extern void (*gifFramesObserver)(const char* path, const ImageHandle* frames, int32_t count);

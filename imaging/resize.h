// Resampling of 24-bit DIB pixel arrays (stb_image_resize, filtered in linear light), with or
// without a transparent key.
#pragma once

#include <cstdint>

namespace imaging::detail {

// Resamples a width x height DIB into a newly allocated newWidth x newHeight DIB, or returns null
// (size not acceptable, out of memory). The source is left as it was. With a transparent key
// (transparency.h) the key's pixels are transparent: they give no colour to their neighbours,
// and the result's pixels less than half opaque become the key.
uint8_t* ResampleDib(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight,
                     int32_t transparentKey);

}  // namespace imaging::detail

// Resampling of 24-bit DIB pixel arrays (stb_image_resize, filtered in linear light).
#pragma once

#include <cstdint>

namespace imaging::detail {

// Resamples a width x height DIB into a newly allocated newWidth x newHeight DIB, or returns null
// (size not acceptable, out of memory). The source is left as it was.
uint8_t* ResampleDib(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth,
                     int32_t newHeight);

}  // namespace imaging::detail

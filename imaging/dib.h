// 24-bit bottom-up DIB pixel arrays: allocation, and conversion from a decoded picture
// (orientation applied, transparent pixels stored as the picture's key colour).
#pragma once

#include <cstdint>

#include "imaging/decode.h"

namespace imaging::detail {

// A zero-filled DIB pixel array for width x height (DibStride(width) * height bytes), or null when
// the size is not acceptable or memory runs out. Free it with FreeDib.
uint8_t* AllocateDib(int32_t width, int32_t height);
void FreeDib(uint8_t* pixels);

// Writes `image`, turned upright by its orientation, into `dib` (OrientedWidth x OrientedHeight,
// blue, green, red, last row first) and returns its transparent key (transparency.h): kNoKey
// when no pixel is transparent. Opaque pixels keep their own colour, unblended.
int32_t ConvertToDib(const DecodedImage& image, uint8_t* dib);

}  // namespace imaging::detail

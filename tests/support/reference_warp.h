// The shake warp computed straight from its formulas, one 64-bit product and division per
// coordinate: what WarpFrame's stepping must reproduce exactly, for the warp's own tests and for
// checks of what real pictures (transparency included) become.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/shake_warp.h"

// How the reference reads one source pixel: (x, y) from the top, as COLORREF (0x00BBGGRR).
using PixelReader = uint32_t (*)(ImageHandle image, int32_t x, int32_t y);

// `pixels` (a DIB of width x height) with every pixel drawn from `source` through `mesh`.
std::vector<uint8_t> ReferenceWarp(PixelReader readPixel, const ShakeMesh& mesh, ImageHandle source, int32_t width,
                                   int32_t height, std::vector<uint8_t> pixels);

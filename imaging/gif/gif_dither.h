// Maps a band of rows of one frame to palette indices, with or without error diffusion, and
// optionally keeping the colour already on screen where it is close enough. Key pixels take the
// transparent index, and error diffusion passes no error into or out of them.
#pragma once

#include <cstdint>

#include "imaging/gif/gif_encoder.h"
#include "imaging/gif/gif_nearest.h"
#include "imaging/gif/gif_palette.h"

namespace gif {
namespace detail {

struct BandJob {
    const Frame* frame;
    int firstRow;
    int endRow;                  // exclusive
    const Palette* palette;
    const NearestGrid* grid;
    const CentreMap* centreMap;  // nearest colours for error diffusion; needed only when dithering
    const uint8_t* shown;        // indices on screen before this frame (whole frame), or null
    int transparentIndex;        // given to the frame's key pixels; in `shown`, the page shows there
    int keepTolerance;           // squared distance the shown colour may exceed the nearest by
    int ditherStrength;          // percent of full Floyd-Steinberg; 0 maps to the nearest colours
    uint8_t* indices;            // this frame's indices (whole frame, width bytes per row)
    int16_t* errorRows;          // scratch: kErrorRowsPerBand * kErrorLanes * (width + 2) values
    uint32_t* memo;              // scratch: kMemoEntries values (exact mapping without dithering)
};

const size_t kMemoEntries = 4096;
const int kStripsPerBand = 2;
const size_t kErrorRowsPerBand = 2 * kStripsPerBand;
const size_t kErrorLanes = 4;  // red, green, blue and an unused zero: one 8-byte load per pixel
// Stronger diffusion would overflow the 16-bit error sums.
const int kMaxDitherStrength = 100;

void MapBand(const BandJob& job);

}  // namespace detail
}  // namespace gif

// The one palette shared by every frame: the exact colours when there are few enough, otherwise a
// variance-minimising split of the colour cube refined by k-means.
#pragma once

#include <cstdint>

#include "imaging/gif/gif_encoder.h"

namespace gif {
namespace detail {

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

struct Palette {
    int size;          // colours in use, 1..256 (0 only while being built)
    Rgb colours[256];
};

// How much a difference in each channel counts wherever colours are compared (palette, nearest
// colours, dithering): green most, as the eye resolves brightness best and green carries most of
// it, blue least. Measured on photos against butteraugli and ssimulacra: these weights lower both
// clearly, for a few tenths of a dB of plain PSNR. Their sum bounds every distance (below 2^20 for
// whole levels, below 2^23 for quarter levels), which the packed search keys rely on.
const int kWeightRed = 2;
const int kWeightGreen = 5;
const int kWeightBlue = 1;
const int kWeightSum = kWeightRed + kWeightGreen + kWeightBlue;
static_assert(kWeightSum <= 8, "the search keys pack a distance and an index into 31 bits");

inline int WeightedDistance(int dr, int dg, int db) {
    return kWeightRed * dr * dr + kWeightGreen * dg * dg + kWeightBlue * db * db;
}

// Fills `palette` with the frames' own opaque colours and returns true when they hold at most
// maxColours distinct colours; returns false (palette untouched) as soon as there are more.
bool CollectExactColours(const Frame* frames, int count, int maxColours, Palette* palette);

// Builds maxColours (<= 256) colours that represent all frames' opaque pixels well; none when
// the sample holds none. Returns true when the frames look like a graphic (a few thousand colours
// at most, the palette holding the dominant ones exactly), which is best mapped without dithering.
// Its k-means passes run on up to `threads` threads. Throws std::bad_alloc.
bool BuildQuantisedPalette(const Frame* frames, int count, int maxColours, int threads, Palette* palette);

}  // namespace detail
}  // namespace gif

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

// Fills `palette` with the frames' own opaque colours and returns true when they hold at most
// maxColours distinct colours; returns false (palette untouched) as soon as there are more.
bool CollectExactColours(const Frame* frames, int count, int maxColours, Palette* palette);

// Builds maxColours (<= 256) colours that represent all frames' opaque pixels well; none when
// the sample holds none. Throws std::bad_alloc.
void BuildQuantisedPalette(const Frame* frames, int count, int maxColours, Palette* palette);

}  // namespace detail
}  // namespace gif

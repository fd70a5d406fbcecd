// The GIF89a blocks of a looping animation: the header with its global colour table and loop
// extension, each image's graphic control and descriptor, and the trailer.
#pragma once

#include "imaging/gif/gif_palette.h"
#include "imaging/gif/gif_sink.h"

namespace gif {
namespace detail {

// Smallest power-of-two table (at least 2 entries) holding `entries`, as its bit count.
int TableBits(int entries);

// Header, logical screen (with backgroundIndex), the palette padded to 2^tableBits colours, and
// "loop forever".
void WriteHeader(SinkWriter* w, int width, int height, const Palette& palette, int tableBits, int backgroundIndex);

// Graphic control (the disposal: "restore to background" when clearAfter, else "do not dispose";
// the delay; the transparent index when >= 0) and an image descriptor covering the whole screen;
// the image's LZW data follows.
void WriteFrameHeader(SinkWriter* w, int width, int height, int delayCs, int transparentIndex, bool clearAfter);

void WriteTrailer(SinkWriter* w);

}  // namespace detail
}  // namespace gif

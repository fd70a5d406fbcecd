// The frames' images, mapped and encoded on several threads: each frame is mapped to palette
// indices in bands of rows, and each band goes to the frame's LZW encoding as soon as the bands
// before it are done, frame after frame. The bytes never depend on the number of threads.
#pragma once

#include "imaging/gif/gif_encoder.h"
#include "imaging/gif/gif_nearest.h"
#include "imaging/gif/gif_palette.h"
#include "imaging/gif/gif_sink.h"

namespace gif {
namespace detail {

// Everything the images of an animation are made from, decided before the first is mapped.
struct FramePlan {
    const Frame* frames;
    int count;
    int delayCs;
    int width, height;
    int bandRows, bandCount;  // error diffusion restarts at every band, so bands are independent
    const Palette* palette;
    const NearestGrid* grid;
    const CentreMap* centreMap;
    int ditherStrength;   // percent of full Floyd-Steinberg; 0 maps every pixel to its nearest
    bool unchanged;       // frames after the first send pixels that stay as "unchanged"
    int unchangedIndex;
    int keepTolerance;
    int minCodeSize;
};

// Writes every frame's image (graphic control, descriptor, LZW data) in order. False when memory
// runs out or a write fails.
bool EncodeFrames(const FramePlan& plan, int threadCount, SinkWriter* writer);

}  // namespace detail
}  // namespace gif

// The frames' images, mapped and encoded on several threads: each frame is mapped to palette
// indices in bands of rows, and each band goes to the frame's LZW encoding as soon as the bands
// before it are done, frame after frame. The bytes never depend on the number of threads.
#pragma once

#include <functional>

#include "imaging/gif/gif_encoder.h"
#include "imaging/gif/gif_nearest.h"
#include "imaging/gif/gif_palette.h"
#include "imaging/gif/gif_sink.h"
#include "imaging/gif/gif_transparency.h"

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
    const FrameTransparency* transparency;  // [count]
    bool keyed;           // some frame has transparent pixels
    int ditherStrength;   // percent of full Floyd-Steinberg; 0 maps every pixel to its nearest
    bool unchanged;       // frames after the first send pixels that stay as "unchanged"
    int transparentIndex; // the entry after the palette: key pixels, and "unchanged" ones
    int keepTolerance;
    int minCodeSize;
};

// Runs task(0) .. task(taskCount - 1) on up to threadCount threads (the caller's among them) and
// returns when all are done. The tasks must not throw; if threads cannot be started, fewer do the work.
void RunParallel(int threadCount, int taskCount, const std::function<void(int)>& task);

// Writes every frame's image (graphic control, descriptor, LZW data) in order. False when memory
// runs out or a write fails.
bool EncodeFrames(const FramePlan& plan, int threadCount, SinkWriter* writer);

}  // namespace detail
}  // namespace gif

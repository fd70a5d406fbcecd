// Transparent pixels across the frames of an animation: which frames have any, and after which
// frame the screen must be cleared so that the next one's transparent pixels show the page.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/gif/gif_encoder.h"

namespace gif {
namespace detail {

inline uint32_t PackedColour(const uint8_t* bgr) { return uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0]; }

// An opaque frame's key, -1, is 0xFFFFFFFF here, which no 24-bit colour equals.
inline bool IsKeyPixel(const uint8_t* bgr, int32_t key) { return PackedColour(bgr) == uint32_t(key); }

struct FrameTransparency {
    bool hasTransparent;  // some pixel is the frame's key colour
    // The screen is restored to the page after this frame: the next frame (the first, after the
    // last) is transparent somewhere this one is opaque, and a frame left in place would show there.
    bool clearAfter;
};

// Decides both for every frame, into out[0, count). Throws std::bad_alloc.
void PlanTransparency(const Frame* frames, int count, int threadCount, std::vector<FrameTransparency>* out);

bool AnyTransparent(const std::vector<FrameTransparency>& frames);

}  // namespace detail
}  // namespace gif

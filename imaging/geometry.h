// Size rules of the image library: which picture sizes are accepted (addressable as a DIB and
// within the memory limit), and what size a resize with one side following the aspect ratio
// produces.
#pragma once

#include <cstdint>

namespace imaging::detail {

// True when a picture of width x height pixels has a 24-bit DIB whose size fits a signed 32-bit
// value (both sides at least 1).
bool DibSizeAcceptable(int64_t width, int64_t height);

// True when a picture of width x height may be decoded: both sides at least 1, its DIB
// addressable and its conversion within the memory limit (imaging::CurrentLimits).
bool SizeAcceptable(int64_t width, int64_t height);

// SizeAcceptable, recording why a size is refused: damaged when a side is below 1, too large
// (with the size and the bytes its conversion needs) otherwise.
bool AcceptSize(int64_t width, int64_t height);

struct Size {
    int32_t width;
    int32_t height;
};

// The size Resize aims at for a picture of `current` size when asked for (width, height):
// -1 marks the side that follows the aspect ratio (rounded, at least 1 pixel); any other value
// of 0 or less on a fixed side means 1 pixel; both -1 keeps the current size.
Size ResizeTarget(Size current, int32_t width, int32_t height);

}  // namespace imaging::detail

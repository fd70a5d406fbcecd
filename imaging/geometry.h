// Size rules of the image library: which picture sizes are accepted, and what size a resize
// with one side following the aspect ratio produces.
#pragma once

#include <cstdint>

namespace imaging::detail {

// Pictures up to this many pixels are decoded whatever the file's length; a claim above it must
// be backed by at least one byte of file per kMaxPixelsPerFileByte pixels. No real picture of
// that size compresses further, while a tiny file claiming a huge one would otherwise make the
// decoder allocate the whole claim before it finds out that the data is missing.
constexpr int64_t kPixelsWithoutEvidence = int64_t(1) << 24;
constexpr int64_t kMaxPixelsPerFileByte = 1024;

// True when a picture of width x height pixels has a 24-bit DIB whose size fits a signed 32-bit
// value (both sides at least 1).
bool DibSizeAcceptable(int64_t width, int64_t height);

// True when a file of fileBytes bytes that claims width x height may be decoded.
bool SizeAcceptable(int64_t width, int64_t height, uint64_t fileBytes);

// SizeAcceptable, recording why a size is refused: damaged when a side is below 1, too large
// otherwise.
bool AcceptSize(int64_t width, int64_t height, uint64_t fileBytes);

// The memory converting a width x height picture takes: the decoder's rows (at most 4 bytes a
// pixel), the prepared picture and its five copies.
uint64_t ConversionBytes(int64_t width, int64_t height);

struct Size {
    int32_t width;
    int32_t height;
};

// The size Resize aims at for a picture of `current` size when asked for (width, height):
// -1 marks the side that follows the aspect ratio (rounded, at least 1 pixel); any other value
// of 0 or less on a fixed side means 1 pixel; both -1 keeps the current size.
Size ResizeTarget(Size current, int32_t width, int32_t height);

}  // namespace imaging::detail

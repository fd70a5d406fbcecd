// Size rules of the image library: accepted picture sizes, the memory a conversion needs, and
// resize target sizes.
#include "imaging/geometry.h"

#include <algorithm>

#include "imaging/failure.h"
#include "imaging/imaging.h"

namespace imaging {

namespace {

// Measured peaks of whole conversions sit a few MB above the per-pixel terms: the GIF encoder's
// colour tables and LZW dictionary, the decoder's working rows, the program itself.
constexpr uint64_t kFixedBytes = uint64_t(8) << 20;
constexpr uint64_t kDecodedBytesPerPixel = 4;  // the widest rows a decoder hands over (RGBA)
constexpr uint64_t kPreparedAndCopies = 6;
constexpr uint64_t kGifIndexBuffers = 3;       // one byte a pixel each, full size without a limit

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

uint64_t ConversionBytes(int64_t width, int64_t height) {
    const uint64_t w = uint64_t(std::clamp<int64_t>(width, 0, INT32_MAX));
    const uint64_t h = uint64_t(std::clamp<int64_t>(height, 0, INT32_MAX));
    const uint64_t pixels = w * h;  // below 2^62
    // Up to 2^59 pixels the DIB stays below 2^61 bytes, so no term below passes 2^64.
    if (pixels > uint64_t(1) << 59) return UINT64_MAX;
    const uint64_t dib = uint64_t(DibStride(int64_t(w))) * h;
    const uint64_t decoding = pixels * kDecodedBytesPerPixel + dib;
    const uint64_t frames = dib * kPreparedAndCopies + pixels * kGifIndexBuffers;
    return SaturatingAdd(std::max(decoding, frames), kFixedBytes);
}

namespace detail {

bool DibSizeAcceptable(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return false;
    // Both factors are below 2^33 and 2^31, so the product cannot overflow 64 bits.
    return DibStride(width) * height <= INT32_MAX;
}

bool SizeAcceptable(int64_t width, int64_t height) {
    return DibSizeAcceptable(width, height) && ConversionBytes(width, height) <= CurrentLimits().memoryBytes;
}

bool AcceptSize(int64_t width, int64_t height) {
    if (SizeAcceptable(width, height)) return true;
    if (width < 1 || height < 1) {
        SetFailure(Failure::kDamaged);
    } else {
        SetTooLarge(width, height, ConversionBytes(width, height));
    }
    return false;
}

namespace {

int32_t FixedSide(int32_t requested) { return requested <= 0 ? 1 : requested; }

// other * fixed / side, rounded to the nearest pixel and at least 1; clamped into 32 bits so a
// huge result is refused later by the DIB size check rather than wrapping here.
int32_t FollowingSide(int32_t other, int32_t fixed, int32_t side) {
    const int64_t scaled = (int64_t(other) * fixed * 2 + side) / (int64_t(side) * 2);
    return int32_t(std::clamp<int64_t>(scaled, 1, INT32_MAX));
}

}  // namespace

Size ResizeTarget(Size current, int32_t width, int32_t height) {
    if (width == -1 && height == -1) return current;
    if (width == -1) {
        const int32_t h = FixedSide(height);
        return {FollowingSide(current.width, h, current.height), h};
    }
    if (height == -1) {
        const int32_t w = FixedSide(width);
        return {w, FollowingSide(current.height, w, current.width)};
    }
    return {FixedSide(width), FixedSide(height)};
}

}  // namespace detail
}  // namespace imaging

// Size rules of the image library: accepted picture sizes and resize target sizes.
#include "imaging/geometry.h"

#include <algorithm>

#include "imaging/failure.h"
#include "imaging/imaging.h"

namespace imaging::detail {

bool DibSizeAcceptable(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return false;
    // Both factors are below 2^33 and 2^31, so the product cannot overflow 64 bits.
    return DibStride(width) * height <= INT32_MAX;
}

bool SizeAcceptable(int64_t width, int64_t height, uint64_t fileBytes) {
    if (!DibSizeAcceptable(width, height)) return false;
    const int64_t pixels = width * height;
    if (pixels <= kPixelsWithoutEvidence) return true;
    const uint64_t neededBytes = uint64_t(pixels + kMaxPixelsPerFileByte - 1) / kMaxPixelsPerFileByte;
    return fileBytes >= neededBytes;
}

bool AcceptSize(int64_t width, int64_t height, uint64_t fileBytes) {
    if (SizeAcceptable(width, height, fileBytes)) return true;
    if (width < 1 || height < 1) {
        SetFailure(Failure::kDamaged);
    } else {
        SetTooLarge(width, height, ConversionBytes(width, height));
    }
    return false;
}

uint64_t ConversionBytes(int64_t width, int64_t height) {
    constexpr uint64_t kPreparedAndCopies = 6;
    const uint64_t w = uint64_t(std::clamp<int64_t>(width, 0, INT32_MAX));
    const uint64_t h = uint64_t(std::clamp<int64_t>(height, 0, INT32_MAX));
    return w * h * 4 + uint64_t(DibStride(int64_t(w))) * h * kPreparedAndCopies;
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

}  // namespace imaging::detail

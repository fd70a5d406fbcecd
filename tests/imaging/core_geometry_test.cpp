// Size rules of the image library: which claimed sizes are decoded, and the sizes Resize aims at.
#include <gtest/gtest.h>

#include "imaging/geometry.h"

namespace {

using imaging::detail::ResizeTarget;
using imaging::detail::SizeAcceptable;

struct SizeCase {
    int64_t width, height;
    uint64_t fileBytes;
    bool accepted;
};

TEST(SizeAcceptable, RefusesEmptyUnaddressableAndUnbackedClaims) {
    const SizeCase cases[] = {
        {1, 1, 10, true},
        {0, 10, 1 << 20, false},
        {10, 0, 1 << 20, false},
        {-5, 10, 1 << 20, false},
        // A 24-bit DIB of at most 2^31 - 1 bytes: 26755 x 26755 has stride 80268, 2147570340 bytes.
        {26754, 26754, uint64_t(1) << 40, true},
        {26755, 26755, uint64_t(1) << 40, false},
        {(int64_t(1) << 30) + 1, 1, uint64_t(1) << 40, false},  // stride alone overflows 32 bits
        {715827881, 1, uint64_t(1) << 40, true},   // stride 2147483644
        {715827882, 1, uint64_t(1) << 40, false},  // stride 2147483648
        // Up to 2^24 pixels any file length will do; above, one byte per 1024 pixels is needed.
        {4096, 4096, 20, true},
        {4097, 4096, 20, false},
        {20000, 20000, 390625, true},
        {20000, 20000, 390624, false},
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(SizeAcceptable(c.width, c.height, c.fileBytes), c.accepted)
            << c.width << " x " << c.height << ", " << c.fileBytes << " bytes";
    }
}

struct ResizeCase {
    int32_t width, height;         // current
    int32_t askWidth, askHeight;   // passed to Resize
    int32_t newWidth, newHeight;   // expected
};

TEST(ResizeTarget, FollowingSideKeepsTheAspectRatioRoundedAndAtLeastOnePixel) {
    const ResizeCase cases[] = {
        {500, 300, 400, -1, 400, 240},
        {300, 500, -1, 400, 240, 400},
        {500, 500, -1, 400, 400, 400},
        {1000, 3, 400, -1, 400, 1},     // 1.2 rounds to 1
        {1000, 5, 400, -1, 400, 2},     // 2.0
        {999, 5, 400, -1, 400, 2},      // 2.002
        {800, 5, 400, -1, 400, 3},      // 2.5 rounds up
        {4000, 1, 400, -1, 400, 1},     // 0.1 becomes 1
        {500, 300, 0, -1, 1, 1},        // 0 on the fixed side means 1 pixel
        {300, 500, 0, -1, 1, 2},        // 1.67 rounds to 2
        {300, 500, -1, -7, 1, 1},       // any value of 0 or less other than -1; 0.6 rounds to 1
        {500, 300, INT32_MIN, -1, 1, 1},
        {640, 480, -1, -1, 640, 480},   // both following: unchanged
        {640, 480, 10, 20, 10, 20},     // both fixed
        {640, 480, 0, -3, 1, 1},
        {3, 1, 2000000000, -1, 2000000000, 666666667},  // large, left to the DIB size check
    };
    for (const ResizeCase& c : cases) {
        const imaging::detail::Size s = ResizeTarget({c.width, c.height}, c.askWidth, c.askHeight);
        EXPECT_EQ(s.width, c.newWidth) << c.width << "x" << c.height << " asked " << c.askWidth << "," << c.askHeight;
        EXPECT_EQ(s.height, c.newHeight) << c.width << "x" << c.height << " asked " << c.askWidth << "," << c.askHeight;
    }
}

}  // namespace

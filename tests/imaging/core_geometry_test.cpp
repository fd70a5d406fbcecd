// Size rules of the image library: which claimed sizes are decoded, and the sizes Resize aims at.
#include <gtest/gtest.h>

#include "imaging/geometry.h"
#include "imaging/imaging.h"

namespace {

using imaging::detail::DibSizeAcceptable;
using imaging::detail::ResizeTarget;
using imaging::detail::SizeAcceptable;

struct SizeCase {
    int64_t width, height;
    bool accepted;
};

TEST(DibSizeAcceptable, RefusesEmptyAndUnaddressableSizes) {
    const SizeCase cases[] = {
        {1, 1, true},
        {0, 10, false},
        {10, 0, false},
        {-5, 10, false},
        // A 24-bit DIB of at most 2^31 - 1 bytes: 26755 x 26755 has stride 80268, 2147570340 bytes.
        {26754, 26754, true},
        {26755, 26755, false},
        {(int64_t(1) << 30) + 1, 1, false},  // stride alone overflows 32 bits
        {715827881, 1, true},   // stride 2147483644
        {715827882, 1, false},  // stride 2147483648
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(DibSizeAcceptable(c.width, c.height), c.accepted) << c.width << " x " << c.height;
    }
}

TEST(ConversionBytes, CountsTheCopiesTheIndexBuffersAndTheFixedTables) {
    // 4000 x 3000: six DIBs of 36,000,000 bytes, three index buffers of 12,000,000, 8 MiB.
    EXPECT_EQ(imaging::ConversionBytes(4000, 3000), 6 * 36000000u + 3 * 12000000u + (8u << 20));
    // 1 x 1: a DIB row is padded to 4 bytes; the decoder's rows and the DIB are less than the copies.
    EXPECT_EQ(imaging::ConversionBytes(1, 1), 6 * 4u + 3u + (8u << 20));
    EXPECT_EQ(imaging::ConversionBytes(-1, 10), 8u << 20);
    // Sides far past anything addressable saturate instead of wrapping.
    EXPECT_EQ(imaging::ConversionBytes(INT32_MAX, INT32_MAX), UINT64_MAX);
    EXPECT_EQ(imaging::ConversionBytes(int64_t(1) << 40, 1), imaging::ConversionBytes(INT32_MAX, 1));
}

// Restores the default limits when a test that changed them ends, however it ends.
struct DefaultLimitsAfterwards {
    ~DefaultLimitsAfterwards() { imaging::SetLimits(imaging::kDefaultLimits); }
};

TEST(SizeAcceptable, HoldsAPictureToTheMemoryLimit) {
    DefaultLimitsAfterwards restore;
    const SizeCase byDefault[] = {
        {10000, 10000, true},   // 100 megapixels: 2,108,388,608 bytes
        {11648, 8736, true},    // a 102-megapixel camera: 2,145,284,096 bytes
        {10100, 10100, false},
        {16384, 16384, false},
        {0, 10, false},
    };
    for (const SizeCase& c : byDefault) {
        EXPECT_EQ(SizeAcceptable(c.width, c.height), c.accepted) << c.width << " x " << c.height;
    }
    imaging::SetLimits({imaging::ConversionBytes(640, 480), 0});
    EXPECT_TRUE(SizeAcceptable(640, 480));
    EXPECT_TRUE(SizeAcceptable(480, 640));
    EXPECT_FALSE(SizeAcceptable(641, 480));
    EXPECT_EQ(imaging::CurrentLimits().decodeSeconds, imaging::kDefaultLimits.decodeSeconds);  // 0: the default
    imaging::SetLimits({0, 0});
    EXPECT_EQ(imaging::CurrentLimits().memoryBytes, imaging::kDefaultLimits.memoryBytes);
}

TEST(AcceptSize, RecordsTheSizeAndTheBytesItNeeds) {
    EXPECT_FALSE(imaging::detail::AcceptSize(20000, 30000));
    const imaging::FailureReport report = imaging::LastFailure();
    EXPECT_EQ(report.failure, imaging::Failure::kTooLarge);
    EXPECT_EQ(report.width, 20000);
    EXPECT_EQ(report.height, 30000);
    EXPECT_EQ(report.bytesNeeded, imaging::ConversionBytes(20000, 30000));
    EXPECT_FALSE(imaging::detail::AcceptSize(0, 30000));
    EXPECT_EQ(imaging::LastFailure().failure, imaging::Failure::kDamaged);
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

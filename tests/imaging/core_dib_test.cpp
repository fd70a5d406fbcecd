// Conversion of decoded rows to a 24-bit bottom-up DIB: all eight EXIF orientations, the three
// pixel orders, transparency composited onto white, padding and row strides.
#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "imaging/dib.h"
#include "imaging/imaging.h"

namespace {

using imaging::detail::ConvertToDib;
using imaging::detail::DecodedImage;
using imaging::detail::OrientedHeight;
using imaging::detail::OrientedWidth;
using imaging::detail::PixelOrder;

// Stored 3 x 2 RGB picture, pixel (x, y) has red = 10 * (y * 3 + x) + 10, green = 200, blue = 7,
// with 2 spare bytes at the end of each stored row.
constexpr int kStoredWidth = 3;
constexpr int kStoredHeight = 2;
constexpr ptrdiff_t kRowStride = kStoredWidth * 3 + 2;

std::vector<uint8_t> StoredRows() {
    std::vector<uint8_t> rows(size_t(kRowStride * kStoredHeight), 0xEE);
    for (int y = 0; y < kStoredHeight; ++y) {
        for (int x = 0; x < kStoredWidth; ++x) {
            uint8_t* p = &rows[size_t(y * kRowStride + x * 3)];
            p[0] = uint8_t(10 * (y * 3 + x) + 10);
            p[1] = 200;
            p[2] = 7;
        }
    }
    return rows;
}

// Reads upright pixel (x, y) of a DIB: returns the stored picture's pixel index it came from
// (red / 10 - 1), checking green and blue on the way.
int SourceIndexAt(const std::vector<uint8_t>& dib, int width, int height, int x, int y) {
    const size_t stride = size_t(imaging::DibStride(width));
    const uint8_t* p = &dib[stride * size_t(height - 1 - y) + size_t(3 * x)];
    EXPECT_EQ(p[0], 7);    // blue first
    EXPECT_EQ(p[1], 200);
    return p[2] / 10 - 1;
}

TEST(ConvertToDib, AppliesEveryExifOrientation) {
    const std::vector<uint8_t> rows = StoredRows();
    // Stored indices:   0 1 2
    //                   3 4 5
    // Expected upright pictures, rows from the top.
    const std::vector<std::vector<int>> expected[9] = {
        {},
        {{0, 1, 2}, {3, 4, 5}},          // 1: as stored
        {{2, 1, 0}, {5, 4, 3}},          // 2: mirrored left-right
        {{5, 4, 3}, {2, 1, 0}},          // 3: half turn
        {{3, 4, 5}, {0, 1, 2}},          // 4: mirrored top-bottom
        {{0, 3}, {1, 4}, {2, 5}},        // 5: transposed
        {{3, 0}, {4, 1}, {5, 2}},        // 6: quarter turn clockwise
        {{5, 2}, {4, 1}, {3, 0}},        // 7: transversed
        {{2, 5}, {1, 4}, {0, 3}},        // 8: quarter turn anticlockwise
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        DecodedImage image;
        image.width = kStoredWidth;
        image.height = kStoredHeight;
        image.order = PixelOrder::Rgb;
        image.rowStride = kRowStride;
        image.rows = rows.data();
        image.orientation = orientation;
        const int width = OrientedWidth(image);
        const int height = OrientedHeight(image);
        const std::vector<std::vector<int>>& want = expected[orientation];
        ASSERT_EQ(height, int(want.size())) << "orientation " << orientation;
        ASSERT_EQ(width, int(want[0].size())) << "orientation " << orientation;
        std::vector<uint8_t> dib(size_t(imaging::DibStride(width) * height), 0);
        ConvertToDib(image, dib.data());
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                EXPECT_EQ(SourceIndexAt(dib, width, height, x, y), want[size_t(y)][size_t(x)])
                    << "orientation " << orientation << " at " << x << "," << y;
            }
        }
    }
}

TEST(ConvertToDib, UnknownOrientationIsTakenAsUpright) {
    const std::vector<uint8_t> rows = StoredRows();
    for (int orientation : {0, 9, -1}) {
        DecodedImage image;
        image.width = kStoredWidth;
        image.height = kStoredHeight;
        image.rowStride = kRowStride;
        image.rows = rows.data();
        image.orientation = orientation;
        ASSERT_EQ(OrientedWidth(image), 3);
        std::vector<uint8_t> dib(size_t(imaging::DibStride(3) * 2), 0);
        ConvertToDib(image, dib.data());
        EXPECT_EQ(SourceIndexAt(dib, 3, 2, 0, 0), 0);
        EXPECT_EQ(SourceIndexAt(dib, 3, 2, 2, 1), 5);
    }
}

struct AlphaCase {
    PixelOrder order;
    uint8_t pixel[4];    // as decoded
    uint8_t blueGreenRed[3];
};

// Each case's pixel stands beside a fully transparent one, so that the picture has a key.
TEST(ConvertToDib, CutsTransparencyAtHalfAndKeepsOpaqueColoursUnblended) {
    const AlphaCase cases[] = {
        {PixelOrder::Rgba, {255, 0, 0, 255}, {0, 0, 255}},        // opaque red
        {PixelOrder::Rgba, {0, 0, 0, 128}, {0, 0, 0}},            // half opaque is shown, unblended
        {PixelOrder::Bgra, {200, 100, 10, 200}, {200, 100, 10}},  // stored BGRA
        {PixelOrder::Rgba, {0, 0, 0, 127}, {}},                   // less than half: transparent
        {PixelOrder::Rgba, {10, 100, 200, 51}, {}},
        {PixelOrder::Bgra, {1, 2, 3, 0}, {}},
    };
    for (const AlphaCase& c : cases) {
        SCOPED_TRACE(int(c.pixel[3]));
        uint8_t rows[8] = {c.pixel[0], c.pixel[1], c.pixel[2], c.pixel[3], 9, 9, 9, 0};
        DecodedImage image;
        image.width = 2;
        image.height = 1;
        image.order = c.order;
        image.rowStride = 8;
        image.rows = rows;
        uint8_t dib[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        const int32_t key = ConvertToDib(image, dib);
        ASSERT_GE(key, 0);
        const uint8_t keyBytes[3] = {uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16)};
        EXPECT_TRUE(std::equal(dib + 3, dib + 6, keyBytes)) << "the transparent neighbour is the key";
        if (c.pixel[3] >= 128) {
            EXPECT_TRUE(std::equal(dib, dib + 3, c.blueGreenRed));
            EXPECT_FALSE(std::equal(dib, dib + 3, keyBytes)) << "no opaque pixel has the key's colour";
        } else {
            EXPECT_TRUE(std::equal(dib, dib + 3, keyBytes));
        }
        EXPECT_EQ(dib[6], 0xAA) << "padding is not written";
    }
}

TEST(ConvertToDib, OpaquePicturesHaveNoKeyAndTheKeyAvoidsEveryOpaqueColour) {
    // No alpha at all, or alpha everywhere at least half: no key, and the colours as stored.
    uint8_t rgb[4] = {1, 2, 3, 0};
    uint8_t translucent[8] = {10, 20, 30, 200, 40, 50, 60, 128};
    const struct {
        PixelOrder order;
        uint8_t* rows;
        int width;
    } opaque[] = {{PixelOrder::Rgb, rgb, 1}, {PixelOrder::Rgba, translucent, 2}};
    for (const auto& o : opaque) {
        DecodedImage image;
        image.width = o.width;
        image.height = 1;
        image.order = o.order;
        image.rowStride = 8;
        image.rows = o.rows;
        uint8_t dib[8] = {};
        EXPECT_EQ(ConvertToDib(image, dib), -1);
        EXPECT_EQ(dib[0], o.rows[2]);
        EXPECT_EQ(dib[2], o.rows[0]);
    }
    // The magenta a key would first be taken from is in use: the key is another colour, and the
    // magenta pixel keeps its colour.
    uint8_t rows[8] = {255, 0, 255, 255, 0, 0, 0, 0};
    DecodedImage image;
    image.width = 2;
    image.height = 1;
    image.order = PixelOrder::Rgba;
    image.rowStride = 8;
    image.rows = rows;
    uint8_t dib[8] = {};
    const int32_t key = ConvertToDib(image, dib);
    EXPECT_GE(key, 0);
    EXPECT_NE(key, 0xFF00FF);
    EXPECT_EQ(dib[0], 255);
    EXPECT_EQ(dib[1], 0);
    EXPECT_EQ(dib[2], 255);
}

TEST(AllocateDib, ZeroFilledAndRefusesUnaddressableSizes) {
    uint8_t* dib = imaging::detail::AllocateDib(5, 3);
    ASSERT_NE(dib, nullptr);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(dib[i], 0) << i;
    imaging::detail::FreeDib(dib);
    EXPECT_EQ(imaging::detail::AllocateDib(0, 3), nullptr);
    EXPECT_EQ(imaging::detail::AllocateDib(3, -1), nullptr);
    EXPECT_EQ(imaging::detail::AllocateDib(26755, 26755), nullptr);
}

}  // namespace

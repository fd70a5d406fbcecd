// Conversion of decoded rows to a 24-bit bottom-up DIB: all eight EXIF orientations, the three
// pixel orders, transparency composited onto white, padding and row strides.
#include <gtest/gtest.h>

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

TEST(ConvertToDib, CompositesTransparencyOntoWhiteInEachPixelOrder) {
    const AlphaCase cases[] = {
        {PixelOrder::Rgba, {255, 0, 0, 255}, {0, 0, 255}},      // opaque red
        {PixelOrder::Rgba, {255, 0, 0, 0}, {255, 255, 255}},    // fully transparent: white
        {PixelOrder::Rgba, {0, 0, 0, 128}, {127, 127, 127}},    // half black: (255 * 127 + 127) / 255
        {PixelOrder::Rgba, {10, 100, 200, 51}, {244, 224, 206}},
        {PixelOrder::Bgra, {200, 100, 10, 51}, {244, 224, 206}},  // the same pixel stored BGRA
        {PixelOrder::Bgra, {1, 2, 3, 255}, {1, 2, 3}},
        {PixelOrder::Rgb, {1, 2, 3, 0}, {3, 2, 1}},             // no alpha: the fourth byte is unused
    };
    for (const AlphaCase& c : cases) {
        DecodedImage image;
        image.width = 1;
        image.height = 1;
        image.order = c.order;
        image.rowStride = 4;
        image.rows = c.pixel;
        uint8_t dib[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        ConvertToDib(image, dib);
        EXPECT_EQ(dib[0], c.blueGreenRed[0]) << int(c.pixel[3]);
        EXPECT_EQ(dib[1], c.blueGreenRed[1]) << int(c.pixel[3]);
        EXPECT_EQ(dib[2], c.blueGreenRed[2]) << int(c.pixel[3]);
        EXPECT_EQ(dib[3], 0xAA) << "padding is not written";
    }
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

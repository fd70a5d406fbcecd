// Large reductions: blocks are averaged in linear light before the filtered resample, so the
// result matches what the filter alone gives, without its cost.
#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

namespace {

using testing_support::MakeImage;
using testing_support::Rgb;

Rgb Checkerboard(int x, int y) { return ((x + y) % 2) ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; }

TEST(LargeReduction, AveragesInLinearLightAndKeepsFlatColours) {
    struct Case {
        int32_t width, height, toWidth, toHeight;
    } cases[] = {{400, 300, 40, -1}, {1001, 333, 7, -1}, {64, 640, -1, 3}, {300, 300, 1, -1}};
    for (const Case& c : cases) {
        // A black and white checkerboard is half the light: sRGB 188, not the 128 of averaging codes.
        imaging::Handle board = MakeImage(c.width, c.height, Checkerboard);
        imaging::Resize(board, c.toWidth, c.toHeight);
        const imaging::ImageInfo* info = imaging::Info(board);
        for (int32_t y = 0; y < info->header->biHeight; ++y)
            for (int32_t x = 0; x < info->header->biWidth; ++x) {
                uint32_t colour = imaging::ReadPixel(board, x, y);
                EXPECT_NEAR(int(colour & 0xFF), 188, 3) << c.width << "x" << c.height << " at " << x << "," << y;
                EXPECT_EQ(colour & 0xFF, (colour >> 8) & 0xFF);
            }
        imaging::Release(board);

        imaging::Handle flat = MakeImage(c.width, c.height, [](int, int) { return Rgb{0xD2, 0x82, 0x3C}; });
        imaging::Resize(flat, c.toWidth, c.toHeight);
        EXPECT_EQ(imaging::ReadPixel(flat, 0, 0), 0x3C82D2u);
        imaging::Release(flat);
    }
}

TEST(LargeReduction, KeepsWhereThingsAre) {
    // A white left half over black: after a tenfold reduction the edge stays in the middle.
    imaging::Handle half = MakeImage(800, 400, [](int x, int) { return x < 400 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; });
    imaging::Resize(half, 80, -1);
    EXPECT_EQ(imaging::Info(half)->header->biHeight, 40);
    for (int32_t y : {0, 20, 39}) {
        EXPECT_EQ(imaging::ReadPixel(half, 37, y), 0xFFFFFFu);
        EXPECT_EQ(imaging::ReadPixel(half, 42, y), 0u);
    }
    imaging::Release(half);
}

}  // namespace

// Transparency through duplicate and resize: the key travels with the pixels, and the size
// limit's resize gives no colour of the transparent pixels to the edge and cuts transparency anew.
#include <gtest/gtest.h>

#include <cmath>

#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;

Rgb KeyColour(int32_t key) { return Rgb{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)}; }

struct DiscCase {
    Rgb disc;
    int32_t key;        // the colour the transparent surroundings are stored as
    int32_t newSide;    // the resized picture is newSide x newSide
};

// A disc of one colour, radius 150, in the middle of 400 x 400 transparent pixels.
imaging::Handle Disc(const DiscCase& c) {
    const Rgb key = KeyColour(c.key);
    return MakeImage(400, 400, [&](int x, int y) { return std::hypot(x - 199.5, y - 199.5) < 150 ? c.disc : key; },
                     c.key);
}

// The disc stays its own colour up to its edge, whatever the key (bright green or white would
// show as a light or green fringe if it were blended in), in the block-averaged reduction (to
// 100) and in the filtered one alone (to 250); inside it is opaque, around it transparent.
TEST(KeyedResize, EdgesKeepTheColourOfTheirOpaqueNeighbours) {
    const DiscCase cases[] = {
        {{220, 20, 30}, 0x00FF00, 100},
        {{220, 20, 30}, 0x00FF00, 250},
        {{20, 30, 90}, 0xFFFFFF, 100},
        {{20, 30, 90}, 0xFFFFFF, 250},
        {{250, 250, 240}, 0x000000, 137},
    };
    for (const DiscCase& c : cases) {
        SCOPED_TRACE(c.newSide);
        const imaging::Handle image = Disc(c);
        ASSERT_NE(image, 0u);
        imaging::Resize(image, c.newSide, -1);
        const imaging::ImageInfo* info = imaging::Info(image);
        ASSERT_EQ(info->header->biWidth, c.newSide);
        EXPECT_EQ(info->transparentKey, c.key);
        const Picture picture = PictureFromDib(image);
        const double scale = c.newSide / 400.0, radius = 150 * scale, centre = c.newSide / 2.0 - 0.5;
        int opaque = 0, largestOff = 0;
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                const Rgb p = picture.at(x, y);
                const double distance = std::hypot(x - centre, y - centre);
                const bool transparent = p == KeyColour(c.key);
                if (distance < radius - 2) EXPECT_FALSE(transparent) << x << "," << y;
                if (distance > radius + 2) EXPECT_TRUE(transparent) << x << "," << y;
                if (transparent) continue;
                ++opaque;
                largestOff = std::max({largestOff, std::abs(p.r - c.disc.r), std::abs(p.g - c.disc.g),
                                       std::abs(p.b - c.disc.b)});
            }
        }
        EXPECT_GT(opaque, 0);
        EXPECT_LE(largestOff, 2) << "an edge took colour from the transparent pixels";
        imaging::Release(image);
    }
}

// A resized opaque pixel that comes out as the key's colour would turn transparent: it is moved
// one level off it. Here a grey ramp passes right through the key.
TEST(KeyedResize, NoOpaquePixelComesOutAsTheKey) {
    const int32_t key = 0x808080;
    const imaging::Handle image = MakeImage(
        256, 64, [](int x, int y) { return y < 8 ? Rgb{0, 0, 0} : Rgb{uint8_t(x), uint8_t(x), uint8_t(x)}; }, key);
    ASSERT_NE(image, 0u);
    imaging::Resize(image, 128, -1);
    const Picture picture = PictureFromDib(image);
    int keyed = 0;
    for (const Rgb& p : picture.pixels) keyed += p == KeyColour(key);
    EXPECT_EQ(keyed, 0);
    imaging::Release(image);
}

TEST(KeyedDuplicate, CopyKeepsTheKeyAndOpaqueImagesHaveNone) {
    const imaging::Handle keyed = MakeImage(5, 4, [](int x, int) { return x == 0 ? Rgb{1, 2, 3} : Rgb{9, 9, 9}; }, 0x010203);
    const imaging::Handle opaque = MakeImage(5, 4, [](int, int) { return Rgb{1, 2, 3}; });
    const imaging::Handle keyedCopy = imaging::Duplicate(keyed);
    const imaging::Handle opaqueCopy = imaging::Duplicate(opaque);
    ASSERT_NE(keyedCopy, 0u);
    ASSERT_NE(opaqueCopy, 0u);
    EXPECT_EQ(imaging::Info(keyedCopy)->transparentKey, 0x010203);
    EXPECT_EQ(imaging::Info(opaqueCopy)->transparentKey, -1);
    for (imaging::Handle h : {keyed, opaque, keyedCopy, opaqueCopy}) imaging::Release(h);
}

}  // namespace

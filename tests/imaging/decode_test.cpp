// Real files from other programs decode to the right pixels: every format of one photo, the PNG
// conformance basics, transparency, palettes, CMYK, grayscale, BMP variants and EXIF rotation.
// References are PPMs decoded by ImageMagick at fetch time (or the photo's own PPM), read here
// by the test's own parser, so the library is checked against an independent decoder.
#include <gtest/gtest.h>

#include <string>

#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;

struct DecodeCase {
    const char* file;       // under the test data
    const char* reference;  // PPM under the test data
    int largest;            // largest per-channel difference allowed
    double mean;            // mean per-channel difference allowed
};

std::ostream& operator<<(std::ostream& out, const DecodeCase& c) { return out << c.file; }

// Loads and prepares `file` and compares the prepared DIB, and ReadPixel, with `reference`.
void ExpectDecodesLike(const DecodeCase& c) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    Picture expected;
    ASSERT_TRUE(ReadPnm(TestData(c.reference), &expected)) << c.reference;
    const std::string path = TestData(c.file);
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    ASSERT_NE(image, 0u) << path;
    ASSERT_NE(imaging::Prepare(image), 0);
    const Picture dib = PictureFromDib(image);
    ASSERT_EQ(dib.width, expected.width);
    ASSERT_EQ(dib.height, expected.height);
    const Difference d = Compare(dib, expected);
    EXPECT_LE(d.largest, c.largest);
    EXPECT_LE(d.mean, c.mean);
    // ReadPixel must see exactly what is stored in the DIB.
    const Picture read = PictureFromReadPixel(image);
    EXPECT_EQ(Compare(read, dib).largest, 0);
    imaging::Release(image);
}

class DecodesLikeReference : public ::testing::TestWithParam<DecodeCase> {};

std::string CaseName(const ::testing::TestParamInfo<DecodeCase>& info) {
    const std::string reference = info.param.reference;
    const std::string stem = reference.substr(reference.find_last_of('/') + 1);
    return ParamName(std::string(info.param.file) + "_vs_" + stem.substr(0, stem.find('.')));
}

TEST_P(DecodesLikeReference, PixelsMatch) { ExpectDecodesLike(GetParam()); }

// One 600x450 photo: the lossless formats hold the PPM's pixels exactly. The JPEG was the
// source of the PPM, so another decoder's rounding stays small; the GIF's palette is compared
// with its own decode.
const DecodeCase kSnake[] = {
    {"snake/snake.png", "snake/snake.ppm", 0, 0},
    {"snake/snake.bmp", "snake/snake.ppm", 0, 0},    // 24-bit, V5 header
    {"snake/snake.tiff", "snake/snake.ppm", 0, 0},   // LZW
    {"snake/snake.jpg", "snake/snake.ppm", 24, 1.0},
    {"snake/snake.gif", "snake/snake.ppm", 255, 5.0},
    {"snake/snake.gif", "ref/snake-gif.ppm", 0, 0},
#ifndef _WIN32
    // Formats that Wine's codecs lack.
    {"snake/snake.ppm", "snake/snake.ppm", 0, 0},
    {"snake/snake.tga", "snake/snake.ppm", 0, 0},    // bottom-left origin
    {"snake/snake.webp", "snake/snake.ppm", 0, 0},   // lossless
#endif
};
INSTANTIATE_TEST_SUITE_P(Snake, DecodesLikeReference, ::testing::ValuesIn(kSnake), CaseName);

// PNG conformance basics (bit depths 1 to 16, gray, RGB, palette, alpha), each also in its
// Adam7-interlaced twin. 16-bit samples and alpha onto white may round either way by one.
const DecodeCase kPngSuite[] = {
    {"pngsuite/basic/basn0g01.png", "ref/basn0g01.ppm", 0, 0},
    {"pngsuite/basic/basn0g02.png", "ref/basn0g02.ppm", 0, 0},
    {"pngsuite/basic/basn0g04.png", "ref/basn0g04.ppm", 0, 0},
    {"pngsuite/basic/basn0g08.png", "ref/basn0g08.ppm", 0, 0},
    {"pngsuite/basic/basn0g16.png", "ref/basn0g16.ppm", 1, 1},
    {"pngsuite/basic/basn2c08.png", "ref/basn2c08.ppm", 0, 0},
    {"pngsuite/basic/basn2c16.png", "ref/basn2c16.ppm", 1, 1},
    {"pngsuite/basic/basn3p01.png", "ref/basn3p01.ppm", 0, 0},
    {"pngsuite/basic/basn3p02.png", "ref/basn3p02.ppm", 0, 0},
    {"pngsuite/basic/basn3p04.png", "ref/basn3p04.ppm", 0, 0},
    {"pngsuite/basic/basn3p08.png", "ref/basn3p08.ppm", 0, 0},
    {"pngsuite/basic/basn4a08.png", "ref/basn4a08.ppm", 1, 1},
    {"pngsuite/basic/basn4a16.png", "ref/basn4a16.ppm", 1, 1},
    {"pngsuite/basic/basn6a08.png", "ref/basn6a08.ppm", 1, 1},
    {"pngsuite/basic/basn6a16.png", "ref/basn6a16.ppm", 1, 1},
    {"pngsuite/interlacing/basi0g01.png", "ref/basn0g01.ppm", 0, 0},
    {"pngsuite/interlacing/basi0g02.png", "ref/basn0g02.ppm", 0, 0},
    {"pngsuite/interlacing/basi0g04.png", "ref/basn0g04.ppm", 0, 0},
    {"pngsuite/interlacing/basi0g08.png", "ref/basn0g08.ppm", 0, 0},
    {"pngsuite/interlacing/basi0g16.png", "ref/basn0g16.ppm", 1, 1},
    {"pngsuite/interlacing/basi2c08.png", "ref/basn2c08.ppm", 0, 0},
    {"pngsuite/interlacing/basi2c16.png", "ref/basn2c16.ppm", 1, 1},
    {"pngsuite/interlacing/basi3p01.png", "ref/basn3p01.ppm", 0, 0},
    {"pngsuite/interlacing/basi3p02.png", "ref/basn3p02.ppm", 0, 0},
    {"pngsuite/interlacing/basi3p04.png", "ref/basn3p04.ppm", 0, 0},
    {"pngsuite/interlacing/basi3p08.png", "ref/basn3p08.ppm", 0, 0},
    {"pngsuite/interlacing/basi4a08.png", "ref/basn4a08.ppm", 1, 1},
    {"pngsuite/interlacing/basi4a16.png", "ref/basn4a16.ppm", 1, 1},
    {"pngsuite/interlacing/basi6a08.png", "ref/basn6a08.ppm", 1, 1},
    {"pngsuite/interlacing/basi6a16.png", "ref/basn6a16.ppm", 1, 1},
};
INSTANTIATE_TEST_SUITE_P(PngSuite, DecodesLikeReference, ::testing::ValuesIn(kPngSuite), CaseName);

const DecodeCase kPhotos[] = {
    {"photo/yellow_rose.png", "ref/yellow_rose.ppm", 1, 0.05},  // RGBA, real transparency
    {"photo/toucan.png", "ref/toucan.ppm", 1, 0.05},            // palette + tRNS, interlaced
#ifdef _WIN32
    // Wine's JPEG codec reconstructs YCCK a little differently along sharp colour edges.
    {"photo/cmyk.jpg", "ref/cmyk.ppm", 96, 5.0},
#else
    {"photo/cmyk.jpg", "ref/cmyk.ppm", 24, 2.0},                 // Adobe YCCK
#endif
    {"photo/cat-gray.jpg", "ref/cat-gray.ppm", 24, 1.0},        // one component
    {"photo/horse-rle8.bmp", "ref/horse-rle8.ppm", 0, 0},
    {"photo/mask-1bit.bmp", "ref/mask-1bit.ppm", 0, 0},
    {"photo/pat-4bit.bmp", "ref/pat-4bit.ppm", 0, 0},
    // EXIF orientation 6: the stored 640x428 picture comes out upright, like the PNG.
    {"photo/exif-rotate.jpg", "ref/exif-rotate-upright.ppm", 255, 3.0},
};
INSTANTIATE_TEST_SUITE_P(Photos, DecodesLikeReference, ::testing::ValuesIn(kPhotos), CaseName);

TEST(DecodeGrayscale, GrayJpegGivesEqualChannels) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::string path = TestData("photo/cat-gray.jpg");
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    ASSERT_NE(image, 0u);
    ASSERT_NE(imaging::Prepare(image), 0);
    const Picture picture = PictureFromDib(image);
    ASSERT_FALSE(picture.pixels.empty());
    size_t colored = 0;
    for (const Rgb& p : picture.pixels) colored += !(p.r == p.g && p.g == p.b);
    EXPECT_EQ(colored, 0u);
    imaging::Release(image);
}

TEST(DecodeTransparency, RoseIsCompositedOntoWhite) {
    // yellow_rose.png has 62,689 fully transparent pixels: they must come out white, not black
    // or whatever colour the file stores under alpha 0.
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::string path = TestData("photo/yellow_rose.png");
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    ASSERT_NE(image, 0u);
    ASSERT_NE(imaging::Prepare(image), 0);
    const Picture picture = PictureFromDib(image);
    size_t white = 0;
    for (const Rgb& p : picture.pixels) white += p == Rgb{255, 255, 255};
    EXPECT_GE(white, 62689u);
    imaging::Release(image);
}

}  // namespace

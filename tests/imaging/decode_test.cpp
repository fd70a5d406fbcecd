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

// Where the reference has an alpha channel (NAME.alpha.pgm beside NAME.ppm), the pixels less
// than half opaque must be the picture's transparent key and no other pixel may be; the key's
// pixels then take the reference's colour, so that the colours compare as for any picture. Alpha
// within one level of the cut may have been rounded either way by the other decoder.
void ExpectTransparencyLike(const std::string& reference, imaging::Handle image, Picture* dib) {
    Picture alpha;
    const std::string alphaPath = reference.substr(0, reference.size() - 4) + ".alpha.pgm";
    const int32_t key = imaging::Info(image)->transparentKey;
    if (!ReadPnm(TestData(alphaPath), &alpha)) {
        EXPECT_EQ(key, -1) << "a picture without transparency has no key";
        return;
    }
    Picture colours;
    ASSERT_TRUE(ReadPnm(TestData(reference), &colours));
    ASSERT_GE(key, 0) << "a picture with transparent pixels has a key";
    const Rgb keyColour{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)};
    size_t transparent = 0;
    for (size_t i = 0; i < dib->pixels.size(); ++i) {
        const int a = alpha.pixels[i].r;
        const bool isKey = dib->pixels[i] == keyColour;
        if (a <= 126) {
            EXPECT_TRUE(isKey) << "pixel " << i << " alpha " << a;
        }
        if (a >= 129) {
            EXPECT_FALSE(isKey) << "pixel " << i << " alpha " << a;
        }
        if (isKey) {
            dib->pixels[i] = colours.pixels[i];
            ++transparent;
        }
    }
    EXPECT_GT(transparent, 0u);
}

// Loads and prepares `file` and compares the prepared DIB, and ReadPixel, with `reference`.
void ExpectDecodesLike(const DecodeCase& c) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    Picture expected;
    ASSERT_TRUE(ReadPnm(TestData(c.reference), &expected)) << c.reference;
    const std::string path = TestData(c.file);
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    ASSERT_NE(image, 0u) << path;
    ASSERT_NE(imaging::Prepare(image), 0);
    Picture dib = PictureFromDib(image);
    ASSERT_EQ(dib.width, expected.width);
    ASSERT_EQ(dib.height, expected.height);
    // ReadPixel must see exactly what is stored in the DIB.
    EXPECT_EQ(Compare(PictureFromReadPixel(image), dib).largest, 0);
    ExpectTransparencyLike(c.reference, image, &dib);
    const Difference d = Compare(dib, expected);
    EXPECT_LE(d.largest, c.largest);
    EXPECT_LE(d.mean, c.mean);
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
// Adam7-interlaced twin. 16-bit samples may round either way by one.
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
    {"transparent/rose.tiff", "ref/yellow_rose.ppm", 1, 0.05},  // TIFF with alpha
    {"transparent/rose.gif", "ref/rose-gif.ppm", 0, 0},         // GIF with a transparent colour
#ifndef _WIN32
    {"transparent/rose.webp", "ref/yellow_rose.ppm", 0, 0},     // WebP with alpha, lossless
#endif
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

TEST(DecodeTransparency, RoseKeepsItsTransparentPixelsAsTheKey) {
    // yellow_rose.png has 62,689 fully and 2,061 partly transparent pixels: at least the first
    // are the key, whatever colour the file stores under alpha 0.
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::string path = TestData("photo/yellow_rose.png");
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    ASSERT_NE(image, 0u);
    ASSERT_NE(imaging::Prepare(image), 0);
    const int32_t key = imaging::Info(image)->transparentKey;
    ASSERT_GE(key, 0);
    const Picture picture = PictureFromDib(image);
    size_t keyed = 0;
    for (const Rgb& p : picture.pixels) keyed += p == Rgb{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)};
    EXPECT_GE(keyed, 62689u);
    EXPECT_LE(keyed, 62689u + 2061u);
    imaging::Release(image);
}

}  // namespace

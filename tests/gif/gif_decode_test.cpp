// The GIF encoder's files read back by independent decoders (Pillow and ImageMagick, through
// tests/support/read_gif): frame count, size, delay, looping, and the pixels each frame shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "gif_test_frames.h"
#include "tests/support/read_gif.h"

namespace {

using read_gif::FrameRgb;
using read_gif::ShownGif;

std::string TempPath(const std::string& name) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = std::string(test->test_suite_name()) + "_" + test->name() + "_" + name;
    for (char& c : unique) {
        if (c == '/') c = '_';
    }
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/wobzy_gif_" + unique;
}

ShownGif DecodeWith(const std::string& decoder, const std::vector<uint8_t>& gif) {
    const std::string gifPath = TempPath(decoder + ".gif");
    std::ofstream(gifPath, std::ios::binary).write(reinterpret_cast<const char*>(gif.data()), std::streamsize(gif.size()));
    ShownGif shown = read_gif::ReadGif(decoder, gifPath);
    std::remove(gifPath.c_str());
    return shown;
}

// Squared errors of a decoded frame against the picture it came from, and how many pixels differ.
struct Difference {
    double squaredSum;
    size_t pixelsDiffering;
};

Difference Compare(const giftest::Picture& p, const uint8_t* rgb) {
    Difference diff{0, 0};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* want = &p.bgr[size_t(y) * p.stride + size_t(x) * 3];
            const uint8_t* got = rgb + (size_t(y) * p.width + x) * 3;
            bool differs = false;
            for (int c = 0; c < 3; ++c) {
                double e = double(want[2 - c]) - got[c];
                diff.squaredSum += e * e;
                differs = differs || e != 0;
            }
            diff.pixelsDiffering += differs ? 1 : 0;
        }
    }
    return diff;
}

void ExpectReadsAsLoopingAnimation(const ShownGif& d, const std::vector<giftest::Picture>& pictures) {
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.frames, int(pictures.size()));
    EXPECT_EQ(d.width, pictures[0].width);
    EXPECT_EQ(d.height, pictures[0].height);
    std::string sixtyEach;
    for (size_t f = 0; f < pictures.size(); ++f) sixtyEach += (f ? ",60" : "60");
    EXPECT_EQ(d.delaysMs, sixtyEach);
    EXPECT_EQ(d.loop, "0");
    ASSERT_EQ(d.rgb.size(), pictures.size() * size_t(d.width) * d.height * 3);
}

uint32_t All256Colours(int f, int x, int y) {
    int k = (x + y * 16 + f * 5) % 256;
    return uint32_t(k) << 16 | uint32_t(255 - k) << 8 | uint32_t(k * 37 % 256);
}

// 255 colours in a busy pattern: long enough code streams to fill the LZW table many times over.
uint32_t Busy255Colours(int f, int x, int y) {
    int k = (x * 7 + y * 13 + (x * y) % 5 + (x / 40 == f ? 100 : 0)) % 255;
    return uint32_t(k) << 16 | uint32_t(k * 3 % 256) << 8 | 17u;
}

struct ExactCase {
    const char* name;
    std::vector<giftest::Picture> (*draw)();
};

struct DecodeCase {
    const char* decoder;
    ExactCase picture;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.decoder << ", " << c.picture.name; }

class GifExactColours : public testing::TestWithParam<DecodeCase> {};

// With at most 256 colours every frame must come back exactly, "unchanged" pixels included.
TEST_P(GifExactColours, EveryFrameReadsBackPixelForPixel) {
    std::vector<giftest::Picture> pictures = GetParam().picture.draw();
    std::vector<uint8_t> gif = giftest::Encode(pictures, gif::DefaultEncodeOptions());
    ASSERT_FALSE(gif.empty());
    ShownGif d = DecodeWith(GetParam().decoder, gif);
    ASSERT_NO_FATAL_FAILURE(ExpectReadsAsLoopingAnimation(d, pictures));
    for (size_t f = 0; f < pictures.size(); ++f) {
        EXPECT_EQ(Compare(pictures[f], FrameRgb(d, int(f))).pixelsDiffering, 0u) << "frame " << f + 1;
    }
}

const ExactCase kExactCases[] = {
    {"SixteenColours", [] { return giftest::FewColourFrames(5, 97, 61, 16); }},
    {"TwoColours", [] { return giftest::FewColourFrames(5, 31, 17, 2); }},
    {"All256ColoursLeaveNoRoomForTransparency", [] { return giftest::DrawFrames(5, 16, 16, All256Colours); }},
    {"BusyPatternFillsTheCodeTable", [] { return giftest::DrawFrames(5, 400, 300, Busy255Colours); }},
    {"OnePixel", [] { return giftest::FewColourFrames(5, 1, 1, 3); }},
};

std::vector<DecodeCase> AllDecodeCases() {
    std::vector<DecodeCase> cases;
    for (const char* decoder : read_gif::kDecoders) {
        for (const ExactCase& c : kExactCases) cases.push_back(DecodeCase{decoder, c});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Decoders, GifExactColours, testing::ValuesIn(AllDecodeCases()),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                             return std::string(info.param.decoder) + "_" + info.param.picture.name;
                         });

class GifManyColours : public testing::TestWithParam<const char*> {};

const double kMinimumPsnr = 32.0;  // these frames come out near 34.8 dB

// Above 256 colours the frames are approximated; each must still be close to its picture, which
// a wrong palette, a misplaced "unchanged" pixel or a broken error diffusion would spoil.
TEST_P(GifManyColours, EveryFrameStaysCloseToItsPicture) {
    std::vector<giftest::Picture> pictures = giftest::PhotoLikeFrames(5, 160, 120);
    for (bool unchanged : {false, true}) {
        gif::EncodeOptions options = gif::DefaultEncodeOptions();
        options.unchangedPixels = unchanged;
        ShownGif d = DecodeWith(GetParam(), giftest::Encode(pictures, options));
        ASSERT_NO_FATAL_FAILURE(ExpectReadsAsLoopingAnimation(d, pictures));
        double frameBytes = double(d.width) * d.height * 3;
        for (size_t f = 0; f < pictures.size(); ++f) {
            double mse = Compare(pictures[f], FrameRgb(d, int(f))).squaredSum / frameBytes;
            double psnr = 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
            EXPECT_GT(psnr, kMinimumPsnr) << "frame " << f + 1 << (unchanged ? " with unchanged pixels" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Decoders, GifManyColours, testing::ValuesIn(read_gif::kDecoders),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace

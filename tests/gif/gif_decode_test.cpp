// The GIF encoder's files read back by independent decoders (Pillow and ImageMagick, through
// tests/support/read_gif): frame count, size, delay, looping, and the pixels each frame shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gif_test_frames.h"
#include "tests/support/read_gif.h"

namespace {

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

// Every frame as RGB, or as RGBA with `withAlpha`.
ShownGif DecodeWith(const std::string& decoder, const std::vector<uint8_t>& gif, bool withAlpha = false) {
    const std::string gifPath = TempPath(decoder + ".gif");
    std::ofstream(gifPath, std::ios::binary).write(reinterpret_cast<const char*>(gif.data()), std::streamsize(gif.size()));
    ShownGif shown = read_gif::ReadGif(decoder, gifPath, withAlpha);
    std::remove(gifPath.c_str());
    return shown;
}

// How a decoded frame (RGB, or RGBA) differs from the picture it came from: squared errors and
// pixels differing in colour over its opaque pixels; with alpha, pixels whose transparency is wrong.
struct Difference {
    double squaredSum;
    size_t pixelsDiffering;
    size_t opaque;
    size_t maskWrong;
};

Difference Compare(const giftest::Picture& p, const uint8_t* pixels, size_t channels = 3) {
    Difference diff{0, 0, 0, 0};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* got = pixels + (size_t(y) * p.width + x) * channels;
            bool transparent = giftest::IsTransparentPixel(p, x, y);
            if (channels == 4 && (transparent ? got[3] != 0 : got[3] != 255)) diff.maskWrong++;
            if (transparent) continue;
            diff.opaque++;
            const uint8_t* want = &p.bgr[size_t(y) * p.stride + size_t(x) * 3];
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

void ExpectReadsAsLoopingAnimation(const ShownGif& d, const std::vector<giftest::Picture>& pictures,
                                   size_t channels = 3) {
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.frames, int(pictures.size()));
    EXPECT_EQ(d.width, pictures[0].width);
    EXPECT_EQ(d.height, pictures[0].height);
    std::string sixtyEach;
    for (size_t f = 0; f < pictures.size(); ++f) sixtyEach += (f ? ",60" : "60");
    EXPECT_EQ(d.delaysMs, sixtyEach);
    EXPECT_EQ(d.loop, "0");
    ASSERT_EQ(d.rgb.size(), pictures.size() * size_t(d.width) * d.height * channels);
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
    ExpectReadsAsLoopingAnimation(d, pictures);
    size_t frameBytes = size_t(d.width) * d.height * 3;
    for (size_t f = 0; f < pictures.size(); ++f) {
        EXPECT_EQ(Compare(pictures[f], d.rgb.data() + f * frameBytes).pixelsDiffering, 0u) << "frame " << f + 1;
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
    for (const char* decoder : {"pillow", "imagemagick"}) {
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
        ExpectReadsAsLoopingAnimation(d, pictures);
        size_t frameBytes = size_t(d.width) * d.height * 3;
        for (size_t f = 0; f < pictures.size(); ++f) {
            double mse = Compare(pictures[f], d.rgb.data() + f * frameBytes).squaredSum / double(frameBytes);
            double psnr = 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
            EXPECT_GT(psnr, kMinimumPsnr) << "frame " << f + 1 << (unchanged ? " with unchanged pixels" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Decoders, GifManyColours, testing::ValuesIn(read_gif::kDecoders),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Flat areas in colours one level apart, strewn with a few hundred other colours: more than a
// palette holds, but like a graphic its flat colours must come back exactly, undithered.
uint32_t StepsAndStrayDots(int f, int x, int y) {
    if ((x * 7 + y * 13 + f) % 97 == 0) return uint32_t((x * 31 + y * 17 + f) % 700) * 0x1F1D3u & 0xFFFFFFu;
    static const uint32_t kSteps[] = {0x021D50, 0x021C4F, 0x022A5A, 0xD8F2E1, 0xD7F1E0, 0x40B0C0};
    return kSteps[((x + f) / 23 + y / 19) % 6];
}

TEST(GifGraphic, FlatColoursOneLevelApartComeBackExactly) {
    std::vector<giftest::Picture> pictures = giftest::DrawFrames(5, 240, 160, StepsAndStrayDots);
    gif::EncodeOptions options = gif::DefaultEncodeOptions();
    options.unchangedTolerance = 0;  // which would let a later frame keep a step's neighbour
    ShownGif d = DecodeWith("pillow", giftest::Encode(pictures, options));
    ExpectReadsAsLoopingAnimation(d, pictures);
    size_t frameBytes = size_t(d.width) * d.height * 3, flatWrong = 0, flat = 0;
    for (size_t f = 0; f < pictures.size(); ++f) {
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 240; ++x) {
                if ((x * 7 + y * 13 + int(f)) % 97 == 0) continue;  // a stray dot
                const uint8_t* want = &pictures[f].bgr[(size_t(y) * 240 + x) * 3];
                const uint8_t* got = d.rgb.data() + f * frameBytes + (size_t(y) * 240 + x) * 3;
                flat++;
                flatWrong += want[2] != got[0] || want[1] != got[1] || want[0] != got[2];
            }
        }
    }
    EXPECT_EQ(flatWrong, 0u) << "of " << flat << " flat pixels";
}

// ---- Transparency, read back as RGBA frames composited as a viewer shows them.

struct TransparentCase {
    const char* decoder;
    giftest::TransparencyCase mask;
};

void PrintTo(const TransparentCase& c, std::ostream* os) { *os << c.decoder << ", " << c.mask.name; }

class GifTransparentFrames : public testing::TestWithParam<TransparentCase> {};

// Every frame shows the page exactly at its key pixels, after frames that were opaque there too,
// and its own colours elsewhere: exact ones with few colours, close ones (dithered) with many.
TEST_P(GifTransparentFrames, ShowThePageExactlyAtKeyPixels) {
    const TransparentCase& c = GetParam();
    struct Kind {
        const char* name;
        std::vector<giftest::Picture> pictures;
        bool exact;
    };
    Kind kinds[] = {{"16 colours", giftest::FewColourFrames(5, 64, 48, 16), true},
                    {"photo-like", giftest::PhotoLikeFrames(5, 64, 48), false}};
    for (Kind& kind : kinds) {
        giftest::MakeTransparent(&kind.pictures, c.mask.transparentAt);
        ShownGif d = DecodeWith(c.decoder, giftest::Encode(kind.pictures, gif::DefaultEncodeOptions()), true);
        ExpectReadsAsLoopingAnimation(d, kind.pictures, 4);
        size_t frameBytes = size_t(d.width) * d.height * 4;
        for (size_t f = 0; f < kind.pictures.size(); ++f) {
            Difference diff = Compare(kind.pictures[f], d.rgb.data() + f * frameBytes, 4);
            EXPECT_EQ(diff.maskWrong, 0u) << kind.name << ", frame " << f + 1;
            if (kind.exact) {
                EXPECT_EQ(diff.pixelsDiffering, 0u) << kind.name << ", frame " << f + 1;
            } else if (diff.opaque > 0) {
                double mse = diff.squaredSum / double(3 * diff.opaque);
                EXPECT_GT(10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9)), kMinimumPsnr)
                    << kind.name << ", frame " << f + 1;
            }
        }
    }
}

std::vector<TransparentCase> AllTransparentCases() {
    std::vector<TransparentCase> cases;
    for (const char* decoder : {"pillow", "imagemagick"}) {
        for (const giftest::TransparencyCase& mask : giftest::TransparencyCases()) {
            cases.push_back(TransparentCase{decoder, mask});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Decoders, GifTransparentFrames, testing::ValuesIn(AllTransparentCases()),
                         [](const testing::TestParamInfo<TransparentCase>& info) {
                             return std::string(info.param.decoder) + "_" + info.param.mask.name;
                         });

}  // namespace

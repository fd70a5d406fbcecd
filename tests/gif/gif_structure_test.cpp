// The GIF encoder's output structure, its determinism and its failures; needs no outside decoder,
// so it runs under Wine as well.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <new>

#include "gif_test_frames.h"

namespace {

using giftest::Encode;
using giftest::ReadLayout;

gif::EncodeOptions Options(int threads) {
    gif::EncodeOptions options = gif::DefaultEncodeOptions();
    options.threads = threads;
    return options;
}

void ExpectLoopingAnimation(const giftest::GifLayout& layout, int width, int height, int frames) {
    ASSERT_TRUE(layout.valid) << layout.error;
    EXPECT_EQ(layout.signature, "GIF89a");
    EXPECT_EQ(layout.width, width);
    EXPECT_EQ(layout.height, height);
    EXPECT_TRUE(layout.globalTable);
    EXPECT_EQ(layout.loopCount, 0);
    ASSERT_EQ(int(layout.images.size()), frames);
    for (const giftest::ImageBlock& image : layout.images) {
        EXPECT_TRUE(image.hasControl);
        EXPECT_EQ(image.delayCs, 6);
        EXPECT_EQ(image.disposal, 1);
        EXPECT_EQ(image.left, 0);
        EXPECT_EQ(image.top, 0);
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        EXPECT_FALSE(image.localTable);
        EXPECT_FALSE(image.interlaced);
        EXPECT_GE(image.minCodeSize, 2);
        EXPECT_LE(image.minCodeSize, 8);
        EXPECT_GT(image.dataBytes, 0u);
    }
}

TEST(GifStructure, PhotoLikeFramesMakeFiveLoopingImagesWithOneFullPalette) {
    auto pictures = giftest::PhotoLikeFrames(5, 61, 37);
    giftest::GifLayout layout = ReadLayout(Encode(pictures, Options(2)));
    ExpectLoopingAnimation(layout, 61, 37, 5);
    EXPECT_EQ(layout.globalTableEntries, 256);
    EXPECT_FALSE(layout.images[0].transparent);
    for (size_t f = 1; f < layout.images.size(); ++f) {
        EXPECT_TRUE(layout.images[f].transparent);
        EXPECT_EQ(layout.images[f].transparentIndex, 255) << "the one entry no colour uses";
    }
}

TEST(GifStructure, FewColoursGetASmallTableAndCodeSize) {
    auto pictures = giftest::FewColourFrames(5, 40, 30, 3);
    giftest::GifLayout layout = ReadLayout(Encode(pictures, Options(1)));
    ExpectLoopingAnimation(layout, 40, 30, 5);
    EXPECT_EQ(layout.globalTableEntries, 4) << "3 colours and the transparent entry";
    EXPECT_EQ(layout.images[0].minCodeSize, 2);
    EXPECT_EQ(layout.images[1].transparentIndex, 3);
}

TEST(GifStructure, UnchangedPixelsMakeStillAreasCheaper) {
    // Blocks that move only in one corner: most of every later frame repeats the one before.
    auto pictures = giftest::DrawFrames(5, 120, 90, [](int f, int x, int y) -> uint32_t {
        bool moving = x < 30 && y < 30;
        return uint32_t((((moving ? x + f : x) / 3 + y / 2) % 7) * 0x252525);
    });
    gif::EncodeOptions without = Options(2);
    without.unchangedPixels = false;
    size_t plain = Encode(pictures, without).size(), marked = Encode(pictures, Options(2)).size();
    ASSERT_GT(plain, 0u);
    EXPECT_LT(marked, plain);
}

TEST(GifStructure, WithoutUnchangedPixelsNoFrameIsTransparent) {
    gif::EncodeOptions options = Options(1);
    options.unchangedPixels = false;
    giftest::GifLayout layout = ReadLayout(Encode(giftest::PhotoLikeFrames(5, 20, 20), options));
    ExpectLoopingAnimation(layout, 20, 20, 5);
    for (const giftest::ImageBlock& image : layout.images) EXPECT_FALSE(image.transparent);
}

struct SizeCase {
    int frames, width, height;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.frames << " frames of " << c.width << "x" << c.height; }

class GifSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(GifSizes, EveryShapeMakesAWellFormedFile) {
    SizeCase c = GetParam();
    giftest::GifLayout layout = ReadLayout(Encode(giftest::PhotoLikeFrames(c.frames, c.width, c.height), Options(2)));
    ExpectLoopingAnimation(layout, c.width, c.height, c.frames);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GifSizes,
                         testing::Values(SizeCase{1, 1, 1}, SizeCase{5, 1, 1}, SizeCase{5, 1, 300}, SizeCase{5, 300, 1},
                                         SizeCase{2, 257, 3}, SizeCase{5, 239, 102}));

bool MovingDiagonalBand(int f, int x, int y) { return std::abs(x - y - 8 * f) < 12; }

TEST(GifDeterminism, SameBytesWhateverTheThreadCountAndOnRepeat) {
    auto opaque = giftest::PhotoLikeFrames(5, 203, 161);  // several bands per frame
    auto keyed = opaque;
    giftest::MakeTransparent(&keyed, MovingDiagonalBand);
    for (const auto* pictures : {&opaque, &keyed}) {
        std::vector<uint8_t> reference = Encode(*pictures, Options(1));
        ASSERT_FALSE(reference.empty());
        for (int threads : {1, 2, 3, 8}) {
            for (int run = 0; run < 2; ++run) EXPECT_EQ(Encode(*pictures, Options(threads)), reference) << threads;
        }
    }
}

// ---- Transparency.

struct PictureKind {
    const char* name;
    std::vector<giftest::Picture> (*draw)();
};

const PictureKind kPictureKinds[] = {
    {"16 colours", [] { return giftest::FewColourFrames(5, 64, 48, 16); }},
    {"all 256 colours", [] {
         return giftest::DrawFrames(5, 64, 48, [](int f, int x, int y) { return uint32_t((x + 64 * y + f) % 256) * 0x010101u; });
     }},
    {"photo-like", [] { return giftest::PhotoLikeFrames(5, 64, 48); }},
};

class GifTransparency : public testing::TestWithParam<giftest::TransparencyCase> {};

// A frame is restored to the page exactly when the next one (the first, after the last) is
// transparent where it is opaque. The first frame names a transparent entry exactly when some frame
// has transparent pixels, and every frame names one inside the table.
TEST_P(GifTransparency, FramesClearExactlyWhereTheNextUncoversTheScreen) {
    const giftest::TransparencyCase& c = GetParam();
    for (const PictureKind& kind : kPictureKinds) {
        auto pictures = kind.draw();
        giftest::MakeTransparent(&pictures, c.transparentAt);
        std::vector<uint8_t> gif = Encode(pictures, Options(2));
        giftest::GifLayout layout = ReadLayout(gif);
        ASSERT_TRUE(layout.valid) << kind.name << ": " << layout.error;
        ASSERT_EQ(layout.images.size(), 5u);
        bool anyTransparent = false;
        for (int f = 0; f < 5; ++f) {
            for (int y = 0; y < 48; ++y) {
                for (int x = 0; x < 64; ++x) anyTransparent = anyTransparent || c.transparentAt(f, x, y);
            }
        }
        EXPECT_EQ(layout.images[0].transparent, anyTransparent) << kind.name;
        for (int f = 0; f < 5; ++f) {
            const giftest::ImageBlock& image = layout.images[size_t(f)];
            EXPECT_EQ(image.disposal, c.disposals[f]) << kind.name << ", frame " << f + 1;
            if (image.transparent) {
                EXPECT_LT(image.transparentIndex, layout.globalTableEntries) << kind.name;
            }
        }
    }
}

// Keys that no pixel has change nothing: the same bytes as opaque frames, 256 colours included.
TEST(GifTransparency, KeysNoPixelHasGiveTheBytesOfOpaqueFrames) {
    for (const PictureKind& kind : kPictureKinds) {
        auto pictures = kind.draw();
        std::vector<uint8_t> opaque = Encode(pictures, Options(2));
        giftest::MakeTransparent(&pictures, [](int, int, int) { return false; });
        ASSERT_NE(pictures[0].transparentKey, gif::kOpaque);
        EXPECT_EQ(Encode(pictures, Options(2)), opaque) << kind.name;
        EXPECT_FALSE(ReadLayout(opaque).images[0].transparent) << kind.name;
    }
}

TEST(GifTransparency, AKeyBeyondTwentyFourBitsIsRefused) {
    auto pictures = giftest::FewColourFrames(2, 8, 8, 4);
    for (int32_t key : {-2, 0x1000000, INT32_MIN}) {
        pictures[1].transparentKey = key;
        EXPECT_TRUE(Encode(pictures, Options(1)).empty()) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, GifTransparency, testing::ValuesIn(giftest::TransparencyCases()),
                         [](const testing::TestParamInfo<giftest::TransparencyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(GifDeterminism, BottomUpRowsGiveTheSameFileAsTopDown) {
    auto pictures = giftest::PhotoLikeFrames(5, 33, 21);
    std::vector<uint8_t> topDown = Encode(pictures, Options(2));
    // The same pixels stored last row first, with padded rows, as a bottom-up DIB holds them.
    std::vector<giftest::Picture> flipped;
    std::vector<gif::Frame> frames;
    for (const giftest::Picture& p : pictures) {
        size_t stride = (size_t(p.width) * 3 + 3) & ~size_t(3);
        giftest::Picture f{p.width, p.height, ptrdiff_t(stride), std::vector<uint8_t>(stride * p.height, 0xAB)};
        for (int y = 0; y < p.height; ++y) {
            std::memcpy(&f.bgr[(p.height - 1 - y) * stride], &p.bgr[size_t(y) * p.width * 3], size_t(p.width) * 3);
        }
        flipped.push_back(std::move(f));
    }
    for (const giftest::Picture& f : flipped) {
        frames.push_back(gif::Frame{f.width, f.height, -f.stride, f.bgr.data() + (f.height - 1) * f.stride, f.transparentKey});
    }
    std::vector<uint8_t> bottomUp;
    ASSERT_TRUE(gif::EncodeAnimationWithOptions(frames.data(), 5, 6, gif::VectorSink(&bottomUp), Options(2)));
    EXPECT_EQ(bottomUp, topDown);
}

// ---- Failures.

struct BadArguments {
    const char* name;
    void (*spoil)(std::vector<gif::Frame>* frames, int* count, int* delay, gif::ByteSink* sink);
};

void PrintTo(const BadArguments& c, std::ostream* os) { *os << c.name; }

class GifBadArguments : public testing::TestWithParam<BadArguments> {};

TEST_P(GifBadArguments, AreRefusedBeforeAnythingIsWritten) {
    auto pictures = giftest::PhotoLikeFrames(5, 16, 8);
    auto other = giftest::PhotoLikeFrames(1, 16, 9);
    std::vector<gif::Frame> frames = giftest::FramesOf(pictures);
    frames.push_back(giftest::FramesOf(other)[0]);  // a sixth frame of another size, past `count`
    int count = 5, delay = 6;
    std::vector<uint8_t> out;
    gif::ByteSink sink = gif::VectorSink(&out);
    GetParam().spoil(&frames, &count, &delay, &sink);
    const gif::Frame* first = count == -100 ? nullptr : frames.data();
    if (count == -100) count = 5;
    EXPECT_FALSE(gif::EncodeAnimation(first, count, delay, sink));
    EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GifBadArguments,
    testing::Values(
        BadArguments{"NullFrames", [](std::vector<gif::Frame>*, int* n, int*, gif::ByteSink*) { *n = -100; }},
        BadArguments{"NoFrames", [](std::vector<gif::Frame>*, int* n, int*, gif::ByteSink*) { *n = 0; }},
        BadArguments{"NegativeCount", [](std::vector<gif::Frame>*, int* n, int*, gif::ByteSink*) { *n = -1; }},
        BadArguments{"ZeroWidth", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) { (*f)[2].width = 0; }},
        BadArguments{"NegativeHeight", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) {
                         for (auto& fr : *f) fr.height = -8;
                     }},
        BadArguments{"WiderThanGifAllows", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) {
                         for (auto& fr : *f) fr.width = 65536;
                     }},
        BadArguments{"TallerThanGifAllows", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) {
                         for (auto& fr : *f) fr.height = 65536;
                     }},
        BadArguments{"FramesOfDifferentSizes", [](std::vector<gif::Frame>*, int* n, int*, gif::ByteSink*) { *n = 6; }},
        BadArguments{"NullPixels", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) { (*f)[4].firstRow = nullptr; }},
        BadArguments{"RowsOverlap", [](std::vector<gif::Frame>* f, int*, int*, gif::ByteSink*) { (*f)[1].stride = 3 * 16 - 1; }},
        BadArguments{"NullWrite", [](std::vector<gif::Frame>*, int*, int*, gif::ByteSink* s) { s->write = nullptr; }},
        BadArguments{"NegativeDelay", [](std::vector<gif::Frame>*, int*, int* d, gif::ByteSink*) { *d = -1; }},
        BadArguments{"DelayTooLong", [](std::vector<gif::Frame>*, int*, int* d, gif::ByteSink*) { *d = 65536; }}),
    [](const testing::TestParamInfo<BadArguments>& info) { return std::string(info.param.name); });

// A sink that accepts `budget` bytes, then fails (or throws) on the write that would pass it.
struct LimitedSink {
    size_t budget;
    bool throws;
    size_t written;
};

bool WriteLimited(void* context, const uint8_t*, size_t count) {
    auto* sink = static_cast<LimitedSink*>(context);
    if (sink->written + count > sink->budget) {
        if (sink->throws) throw std::bad_alloc();
        return false;
    }
    sink->written += count;
    return true;
}

TEST(GifFailingSink, AnyFailedWriteFailsTheEncoding) {
    auto pictures = giftest::PhotoLikeFrames(5, 300, 200);
    std::vector<uint8_t> whole = Encode(pictures, gif::DefaultEncodeOptions());
    ASSERT_FALSE(whole.empty());
    std::vector<gif::Frame> frames = giftest::FramesOf(pictures);
    for (bool throws : {false, true}) {
        for (size_t budget : {size_t(0), size_t(13), size_t(800), whole.size() / 2, whole.size() - 1}) {
            LimitedSink limited{budget, throws, 0};
            gif::ByteSink sink{&limited, WriteLimited};
            EXPECT_FALSE(gif::EncodeAnimation(frames.data(), 5, 6, sink)) << budget << (throws ? " throwing" : "");
            EXPECT_LE(limited.written, budget);
        }
    }
    LimitedSink enough{whole.size(), false, 0};
    EXPECT_TRUE(gif::EncodeAnimation(frames.data(), 5, 6, gif::ByteSink{&enough, WriteLimited}));
    EXPECT_EQ(enough.written, whole.size());
}

TEST(GifStructure, TheWidestRowGifAllowsIsAccepted) {
    std::vector<uint8_t> row(size_t(65535) * 3);
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 7 % 251);
    gif::Frame frames[2] = {{65535, 1, ptrdiff_t(row.size()), row.data(), gif::kOpaque},
                             {65535, 1, ptrdiff_t(row.size()), row.data(), gif::kOpaque}};
    std::vector<uint8_t> out;
    ASSERT_TRUE(gif::EncodeAnimation(frames, 2, 6, gif::VectorSink(&out)));
    ExpectLoopingAnimation(ReadLayout(out), 65535, 1, 2);
}

}  // namespace

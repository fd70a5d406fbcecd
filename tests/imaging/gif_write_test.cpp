// WriteAnimatedGif end to end: the file's structure, its frames read back by decoders that are
// not ours (the platform loader everywhere; Pillow and ImageMagick on Linux), and failed writes
// that leave no partial or temporary file and keep an earlier file of that name intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/read_gif.h"
#endif

namespace {

using namespace testing_support;

constexpr int kFrames = 5;
constexpr int kDelay = 6;

// What the blocks of a GIF say, walked the way every decoder walks them.
struct GifSummary {
    bool valid = false;
    int width = 0, height = 0;
    int loopCount = -1;  // NETSCAPE2.0 repetitions, -1 when absent (plays once)
    std::vector<int> delays;
    int images = 0;
    std::vector<std::string> imageGeometry;  // each image's "WxH+X+Y", as ImageMagick writes it
};

GifSummary ParseGif(const std::vector<uint8_t>& b) {
    GifSummary s;
    size_t p = 13;
    auto u16 = [&](size_t at) { return int(b[at] | b[at + 1] << 8); };
    auto skipSubBlocks = [&]() {
        while (p < b.size() && b[p] != 0) p += size_t(b[p]) + 1;
        ++p;
        return p <= b.size();
    };
    if (b.size() < 14 || std::memcmp(b.data(), "GIF89a", 6) != 0) return s;
    s.width = u16(6);
    s.height = u16(8);
    if (b[10] & 0x80) p += size_t(3) << ((b[10] & 7) + 1);
    while (p < b.size()) {
        const uint8_t block = b[p++];
        if (block == 0x3B) {
            s.valid = p == b.size();
            return s;
        }
        if (block == 0x21 && p + 1 < b.size()) {
            const uint8_t label = b[p++];
            if (label == 0xF9 && p + 5 < b.size() && b[p] == 4) s.delays.push_back(u16(p + 2));
            if (label == 0xFF && p + 15 < b.size() && std::memcmp(&b[p + 1], "NETSCAPE2.0", 11) == 0 &&
                b[p + 12] == 3 && b[p + 13] == 1) {
                s.loopCount = u16(p + 14);
            }
            if (!skipSubBlocks()) return s;
        } else if (block == 0x2C && p + 9 < b.size()) {
            s.imageGeometry.push_back(std::to_string(u16(p + 4)) + "x" + std::to_string(u16(p + 6)) + "+" +
                                      std::to_string(u16(p)) + "+" + std::to_string(u16(p + 2)));
            const uint8_t packed = b[p + 8];
            p += 9;
            if (packed & 0x80) p += size_t(3) << ((packed & 7) + 1);
            ++p;  // LZW minimum code size
            if (!skipSubBlocks()) return s;
            ++s.images;
        } else {
            return s;
        }
    }
    return s;
}

// Five frames of one small picture, each changed a little the way the warp redraws them, with
// 256 colours in all, so the GIF must hold them exactly.
class FrameSet : public ::testing::Test {
protected:
    static constexpr int kWidth = 37;  // odd: DIB rows carry padding the GIF must not
    static constexpr int kHeight = 23;

    // 16 x 16 = 256 colours, repeating across the picture.
    static Rgb Base(int x, int y) {
        const uint8_t r = uint8_t(x % 16 * 17);
        return Rgb{r, uint8_t(y % 16 * 17), uint8_t(255 - r)};
    }

    void SetUp() override {
        source_ = LoadPrepared(dir_, "source.bmp", MakeBmp(kWidth, kHeight, Base));
        ASSERT_NE(source_, 0u);
        for (int f = 0; f < kFrames; ++f) {
            frames_[f] = imaging::Duplicate(source_);
            ASSERT_NE(frames_[f], 0u);
            // Frame f: a band of rows shifted by f pixels, plus one marker pixel.
            const imaging::ImageInfo* info = imaging::Info(frames_[f]);
            const int64_t stride = imaging::DibStride(kWidth);
            for (int y = 8; y < 14; ++y) {
                uint8_t* row = info->pixels + (kHeight - 1 - y) * stride;
                for (int x = 0; x < kWidth; ++x) {
                    const Rgb c = Base((x + f) % kWidth, y);
                    row[3 * x] = c.b;
                    row[3 * x + 1] = c.g;
                    row[3 * x + 2] = c.r;
                }
            }
            const Rgb markerColor = Base(3, 7);
            uint8_t* marker = info->pixels + (kHeight - 1) * stride + 3 * f;  // top row, x = f
            marker[0] = markerColor.b;
            marker[1] = markerColor.g;
            marker[2] = markerColor.r;
            expected_[f] = PictureFromDib(frames_[f]);
        }
    }

    void TearDown() override {
        for (imaging::Handle h : frames_) imaging::Release(h);
        imaging::Release(source_);
    }

    int Write(const std::string& path) { return imaging::WriteAnimatedGif(path.c_str(), frames_, kFrames, kDelay); }

    ScratchDir dir_;
    imaging::Handle source_ = 0;
    imaging::Handle frames_[kFrames] = {};
    Picture expected_[kFrames];
};

TEST_F(FrameSet, WritesLoopingFiveFrameGif) {
    const std::string out = dir_.file("out.gif");
    ASSERT_NE(Write(out), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(out, &bytes));
    const GifSummary s = ParseGif(bytes);
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.width, kWidth);
    EXPECT_EQ(s.height, kHeight);
    EXPECT_EQ(s.images, kFrames);
    const std::string whole = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "+0+0";
    EXPECT_EQ(s.imageGeometry, std::vector<std::string>(kFrames, whole));
    EXPECT_EQ(s.delays, std::vector<int>(kFrames, kDelay));
    EXPECT_EQ(s.loopCount, 0);  // forever
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"out.gif", "source.bmp"}));  // no temporary left
}

TEST_F(FrameSet, PlatformLoaderReadsFirstFrameExactly) {
    const std::string out = dir_.file("out.gif");
    ASSERT_NE(Write(out), 0);
    const imaging::Handle back = imaging::LoadFile(out.c_str());
    ASSERT_NE(back, 0u);
    ASSERT_NE(imaging::Prepare(back), 0);
    const Difference d = Compare(PictureFromDib(back), expected_[0]);
    EXPECT_EQ(d.largest, 0);
    imaging::Release(back);
}

TEST_F(FrameSet, ExistingOutputIsReplaced) {
    const std::string out = dir_.file("out.gif");
    ASSERT_TRUE(WriteFile(out, std::vector<uint8_t>(100000, 'x')));  // larger than the GIF
    ASSERT_NE(Write(out), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(out, &bytes));
    const GifSummary s = ParseGif(bytes);
    EXPECT_TRUE(s.valid);  // no tail of the old file after the trailer
    EXPECT_EQ(s.images, kFrames);
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"out.gif", "source.bmp"}));
}

// ---- Failed writes ----

// An earlier file of the output's name must survive a failed write byte for byte, and the
// folder must hold exactly what it held before: no partial output, no temporary file.
class FailedWrite : public FrameSet {
protected:
    void SetUp() override {
        FrameSet::SetUp();
        out_ = dir_.file("out.gif");
        ASSERT_TRUE(WriteFile(out_, earlier_));
        namesBefore_ = dir_.names();
    }
    void ExpectNothingChanged() {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(out_, &bytes));
        EXPECT_EQ(bytes, earlier_);
        EXPECT_EQ(dir_.names(), namesBefore_);
    }

    std::string out_;
    const std::vector<uint8_t> earlier_ = std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    std::vector<std::string> namesBefore_;
};

TEST_F(FailedWrite, StaleFrameHandle) {
    imaging::Handle frames[kFrames];
    std::copy(frames_, frames_ + kFrames, frames);
    imaging::Release(frames_[3]);
    frames_[3] = 0;
    EXPECT_EQ(imaging::WriteAnimatedGif(out_.c_str(), frames, kFrames, kDelay), 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, FramesOfDifferentSizes) {
    imaging::Resize(frames_[4], 20, -1);
    EXPECT_EQ(Write(out_), 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, NoFramesOrNullFrames) {
    EXPECT_EQ(imaging::WriteAnimatedGif(out_.c_str(), frames_, 0, kDelay), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(out_.c_str(), frames_, -3, kDelay), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(out_.c_str(), nullptr, kFrames, kDelay), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(nullptr, frames_, kFrames, kDelay), 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, FolderIsAFile) {
    // Works as root too, unlike a read-only folder.
    const std::string path = out_ + "/inside.gif";
    EXPECT_EQ(Write(path), 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, FolderMissing) {
    const std::string path = dir_.file("no-such-folder") + "/out.gif";
    EXPECT_EQ(Write(path), 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, OutputNameIsAFolder) {
    const std::string path = dir_.file("a-folder");
    ASSERT_NO_THROW(std::filesystem::create_directory(path));
    namesBefore_ = dir_.names();
    EXPECT_EQ(Write(path), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    ExpectNothingChanged();
}

#ifndef _WIN32
TEST_F(FailedWrite, FolderNotWritable) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
    const int written = Write(out_);
    chmod(dir_.path().c_str(), 0755);
    EXPECT_EQ(written, 0);
    ExpectNothingChanged();
}

TEST_F(FailedWrite, DiskFullMidway) {
    // A file size limit makes the writes fail part way (EFBIG), as a full disk would.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 300;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int written = Write(out_);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_EQ(written, 0);
    ExpectNothingChanged();
}
#endif

// ---- Read back by independent decoders (Linux) ----

#ifndef _WIN32
class IndependentDecoder : public FrameSet, public ::testing::WithParamInterface<const char*> {};

TEST_P(IndependentDecoder, ShowsEveryFrameExactlyLoopingAtSixHundredths) {
    // The decoders compose each frame onto the previous ones as a viewer does (disposal, transparency).
    const std::string out = dir_.file("out.gif");
    ASSERT_NE(Write(out), 0);
    const read_gif::ShownGif shown = read_gif::ReadGif(GetParam(), out);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.frames, kFrames);
    EXPECT_EQ(shown.width, kWidth);
    EXPECT_EQ(shown.height, kHeight);
    EXPECT_EQ(shown.delaysMs, "60,60,60,60,60");
    EXPECT_EQ(shown.loop, "0");
    ASSERT_EQ(shown.rgb.size(), size_t(kFrames) * kWidth * kHeight * 3);
    for (int f = 0; f < kFrames; ++f) {
        const uint8_t* rgb = read_gif::FrameRgb(shown, f);
        Picture decoded;
        decoded.width = kWidth;
        decoded.height = kHeight;
        for (int i = 0; i < kWidth * kHeight; ++i) decoded.pixels.push_back(Rgb{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
        EXPECT_EQ(Compare(decoded, expected_[f]).largest, 0) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Decoders, IndependentDecoder, ::testing::ValuesIn(read_gif::kDecoders),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
#endif

// ---- A photo: more than 256 colours, so the GIF approximates ----

TEST(PhotoGif, FirstFrameStaysCloseToThePhoto) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::string path = TestData("snake/snake.png");
    const imaging::Handle source = imaging::LoadFile(path.c_str());
    ASSERT_NE(source, 0u);
    ASSERT_NE(imaging::Prepare(source), 0);
    imaging::Handle frames[kFrames];
    for (imaging::Handle& f : frames) {
        f = imaging::Duplicate(source);
        ASSERT_NE(f, 0u);
    }
    ScratchDir dir;
    const std::string out = dir.file("snake.png_wob.gif");
    EXPECT_NE(imaging::WriteAnimatedGif(out.c_str(), frames, kFrames, kDelay), 0);
    const imaging::Handle back = imaging::LoadFile(out.c_str());
    ASSERT_NE(back, 0u);
    ASSERT_NE(imaging::Prepare(back), 0);
    // A flipped, mirrored or channel-swapped frame differs by about 40 on average.
    const Difference d = Compare(PictureFromDib(back), PictureFromDib(source));
    EXPECT_LE(d.mean, 6.0);
    imaging::Release(back);
    for (imaging::Handle f : frames) imaging::Release(f);
    imaging::Release(source);
}

}  // namespace

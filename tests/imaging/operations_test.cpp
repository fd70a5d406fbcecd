// The operations on loaded images: the prepared DIB's layout, the Info record, independent
// copies, ReadPixel bounds, stale handles after Release, and Resize (sizes, refusals, filtering).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;

// Distinct colours everywhere and none black, so a refused ReadPixel (0) cannot pass for a pixel.
Rgb Pattern(int x, int y) { return Rgb{uint8_t(10 + 20 * x), uint8_t(5 + 30 * y), uint8_t(200 - 7 * x - 3 * y)}; }

// A prepared picture of odd width (rows need padding) made from a hand-written BMP.
class PreparedImage : public ::testing::Test {
protected:
    static constexpr int kWidth = 7;
    static constexpr int kHeight = 5;

    void SetUp() override {
        image_ = LoadPrepared(dir_, "pattern.bmp", MakeBmp(kWidth, kHeight, Pattern));
        ASSERT_NE(image_, 0u);
    }
    void TearDown() override { imaging::Release(image_); }

    ScratchDir dir_;
    imaging::Handle image_ = 0;
};

TEST_F(PreparedImage, HeaderDescribesBottomUp24BitDib) {
    const imaging::ImageInfo* info = imaging::Info(image_);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->recordSize, sizeof(imaging::ImageInfo));
    EXPECT_EQ(info->handle, image_);
    ASSERT_NE(info->header, nullptr);
    ASSERT_NE(info->pixels, nullptr);
    const imaging::BitmapInfoHeader& h = *info->header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, kWidth);
    EXPECT_EQ(h.biHeight, kHeight);  // positive: last row first
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);  // BI_RGB
    const uint32_t imageBytes = uint32_t(imaging::DibStride(kWidth) * kHeight);
    EXPECT_TRUE(h.biSizeImage == 0 || h.biSizeImage == imageBytes) << h.biSizeImage;
}

TEST_F(PreparedImage, RowsAreBottomUpBgrPaddedToFourBytes) {
    const imaging::ImageInfo* info = imaging::Info(image_);
    ASSERT_NE(info, nullptr);
    const int64_t stride = imaging::DibStride(kWidth);
    ASSERT_EQ(stride, 24);  // 21 bytes of pixels + 3 of padding
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = info->pixels + (kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const Rgb expected = Pattern(x, y);
            EXPECT_EQ(row[3 * x], expected.b) << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], expected.g) << x << "," << y;
            EXPECT_EQ(row[3 * x + 2], expected.r) << x << "," << y;
            EXPECT_EQ(imaging::ReadPixel(image_, x, y), ColorRef(expected)) << x << "," << y;
        }
    }
}

TEST_F(PreparedImage, InfoRecordReadAsRawWordsLikeTheProgram) {
    // The program reads the header address at byte 8 and the pixel address at byte 12 of the
    // record (32-bit Windows); on 64-bit builds the same fields follow at pointer size.
    const imaging::ImageInfo* info = imaging::Info(image_);
    ASSERT_NE(info, nullptr);
    const char* record = reinterpret_cast<const char*>(info);
    const imaging::BitmapInfoHeader* header = nullptr;
    uint8_t* pixels = nullptr;
    std::memcpy(&header, record + 8, sizeof header);
    std::memcpy(&pixels, record + 8 + sizeof(void*), sizeof pixels);
    ASSERT_NE(header, nullptr);
    ASSERT_NE(pixels, nullptr);
    int32_t width = 0, height = 0;
    std::memcpy(&width, reinterpret_cast<const char*>(header) + 4, 4);
    std::memcpy(&height, reinterpret_cast<const char*>(header) + 8, 4);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    const Rgb topLeft = Pattern(0, 0);
    const uint8_t* topRow = pixels + (kHeight - 1) * imaging::DibStride(kWidth);
    EXPECT_EQ(topRow[2], topLeft.r);
    EXPECT_EQ(topRow[0], topLeft.b);
}

TEST_F(PreparedImage, PreparingAgainKeepsThePicture) {
    const Picture before = PictureFromDib(image_);
    EXPECT_NE(imaging::Prepare(image_), 0);
    EXPECT_EQ(Compare(PictureFromDib(image_), before).largest, 0);
}

TEST_F(PreparedImage, ReadPixelOutsideGivesZero) {
    const int32_t outside[][2] = {{-1, 0},      {0, -1},       {kWidth, 0},  {0, kHeight},
                                  {kWidth, kHeight}, {INT32_MIN, 0}, {0, INT32_MIN}, {INT32_MAX, 0},
                                  {0, INT32_MAX}, {INT32_MAX, INT32_MAX}};
    for (const auto& p : outside) {
        EXPECT_EQ(imaging::ReadPixel(image_, p[0], p[1]), 0u) << p[0] << "," << p[1];
    }
    EXPECT_EQ(imaging::ReadPixel(image_, kWidth - 1, kHeight - 1), ColorRef(Pattern(kWidth - 1, kHeight - 1)));
}

TEST(ReadPixelBounds, JustOutsideRowsWithoutPaddingGivesZero) {
    // 4 pixels make 12 bytes, a row without padding: one step past the right edge lands on the
    // next stored row's first pixel, which is not black, so a loose bound shows.
    ScratchDir dir;
    const imaging::Handle image = LoadPrepared(dir, "four.bmp", MakeBmp(4, 3, Pattern));
    ASSERT_NE(image, 0u);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(imaging::ReadPixel(image, 4, y), 0u) << y;
    EXPECT_EQ(imaging::ReadPixel(image, 0, 3), 0u);
    EXPECT_EQ(imaging::ReadPixel(image, -1, 1), 0u);
    EXPECT_EQ(imaging::ReadPixel(image, 3, 2), ColorRef(Pattern(3, 2)));
    imaging::Release(image);
}

TEST_F(PreparedImage, DuplicateIsAnIndependentCopy) {
    const imaging::Handle copy = imaging::Duplicate(image_);
    ASSERT_NE(copy, 0u);
    EXPECT_NE(copy, image_);
    const imaging::ImageInfo* source = imaging::Info(image_);
    const imaging::ImageInfo* duplicate = imaging::Info(copy);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(duplicate, nullptr);
    EXPECT_EQ(duplicate->handle, copy);
    EXPECT_NE(duplicate->pixels, source->pixels);
    EXPECT_EQ(0, std::memcmp(duplicate->header, source->header, sizeof(imaging::BitmapInfoHeader)));
    const Picture original = PictureFromDib(image_);
    EXPECT_EQ(Compare(PictureFromDib(copy), original).largest, 0);

    // Writing the copy's pixels, as the frame drawing does, leaves the source alone, and back.
    std::memset(duplicate->pixels, 0x11, size_t(imaging::DibStride(kWidth) * kHeight));
    EXPECT_EQ(Compare(PictureFromDib(image_), original).largest, 0);
    EXPECT_EQ(imaging::ReadPixel(copy, 3, 2), 0x111111u);
    source->pixels[0] = 0x77;
    EXPECT_EQ(PictureFromDib(copy).at(0, kHeight - 1).b, 0x11);

    // The copy outlives its source.
    imaging::Release(image_);
    image_ = 0;
    EXPECT_EQ(imaging::ReadPixel(copy, 0, 0), 0x111111u);
    imaging::Release(copy);
}

TEST_F(PreparedImage, ReleasedHandleIsRefusedEverywhere) {
    const imaging::Handle copy = imaging::Duplicate(image_);
    ASSERT_NE(copy, 0u);
    imaging::Release(copy);
    EXPECT_EQ(imaging::Info(copy), nullptr);
    EXPECT_EQ(imaging::ReadPixel(copy, 0, 0), 0u);
    EXPECT_EQ(imaging::Prepare(copy), 0);
    EXPECT_EQ(imaging::Duplicate(copy), 0u);
    imaging::Resize(copy, 3, 3);
    imaging::Release(copy);  // twice: nothing happens
    const std::string out = dir_.file("stale.gif");
    const imaging::Handle frames[] = {image_, copy};
    EXPECT_EQ(imaging::WriteAnimatedGif(out.c_str(), frames, 2, 6), 0);
    // The live image is untouched by all of that.
    EXPECT_EQ(imaging::ReadPixel(image_, 1, 1), ColorRef(Pattern(1, 1)));
}

TEST_F(PreparedImage, OldHandleStaysStaleWhenItsSlotIsReused) {
    std::vector<imaging::Handle> released;
    for (int round = 0; round < 20; ++round) {
        const imaging::Handle copy = imaging::Duplicate(image_);
        ASSERT_NE(copy, 0u);
        for (imaging::Handle old : released) {
            EXPECT_NE(copy, old);
            EXPECT_EQ(imaging::Info(old), nullptr);
            EXPECT_EQ(imaging::ReadPixel(old, 0, 0), 0u);
        }
        imaging::Release(copy);
        released.push_back(copy);
    }
}

TEST(UnknownHandle, IsRefused) {
    const imaging::Handle unknown[] = {0u, 1u, 2u, 0x7FFFFFFFu, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu};
    for (imaging::Handle h : unknown) {
        EXPECT_EQ(imaging::Info(h), nullptr) << h;
        EXPECT_EQ(imaging::Prepare(h), 0) << h;
        EXPECT_EQ(imaging::Duplicate(h), 0u) << h;
        EXPECT_EQ(imaging::ReadPixel(h, 0, 0), 0u) << h;
        imaging::Resize(h, 5, 5);
        imaging::Release(h);
    }
}

// ---- Resize ----

struct ResizeCase {
    int width, height;         // source
    int32_t toWidth, toHeight;  // arguments
    int expectWidth, expectHeight;
};

std::ostream& operator<<(std::ostream& out, const ResizeCase& c) {
    return out << c.width << "x" << c.height << " (" << c.toWidth << "," << c.toHeight << ")";
}

class ResizeSizes : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeSizes, GivesExpectedSizeAndFreshInfo) {
    const ResizeCase& c = GetParam();
    ScratchDir dir;
    const imaging::Handle image =
        LoadPrepared(dir, "source.bmp", MakeBmp(c.width, c.height, [](int, int) { return Rgb{200, 120, 40}; }));
    ASSERT_NE(image, 0u);
    imaging::Resize(image, c.toWidth, c.toHeight);
    const imaging::ImageInfo* info = imaging::Info(image);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->handle, image);
    EXPECT_EQ(info->header->biWidth, c.expectWidth);
    EXPECT_EQ(info->header->biHeight, c.expectHeight);
    EXPECT_EQ(info->header->biBitCount, 24);
    const uint32_t imageBytes = uint32_t(imaging::DibStride(c.expectWidth) * c.expectHeight);
    EXPECT_TRUE(info->header->biSizeImage == 0 || info->header->biSizeImage == imageBytes);
    // A flat picture stays flat through any filter; reading every pixel also proves the new
    // array is as large as the header says (a short one would read garbage or fault).
    const Picture picture = PictureFromReadPixel(image);
    ASSERT_EQ(picture.width, c.expectWidth);
    for (const Rgb& p : picture.pixels) {
        ASSERT_LE(std::abs(p.r - 200) + std::abs(p.g - 120) + std::abs(p.b - 40), 3);
    }
    EXPECT_EQ(imaging::ReadPixel(image, c.expectWidth, 0), 0u);
    EXPECT_EQ(imaging::ReadPixel(image, 0, c.expectHeight), 0u);
    imaging::Release(image);
}

const ResizeCase kResizeCases[] = {
    // The program's own calls: one side fixed by the size limit, the other following.
    {600, 450, 400, -1, 400, 300},
    {450, 600, -1, 400, 300, 400},
    {500, 500, -1, 400, 400, 400},
    // The following side is rounded to the nearest pixel, not truncated or rounded up.
    {7, 3, 4, -1, 4, 2},    // 1.71
    {3, 7, -1, 4, 2, 4},
    {7, 3, -1, 2, 5, 2},    // 4.67
    {10, 4, 3, -1, 3, 1},   // 1.2
    {4, 10, -1, 3, 1, 3},
    // ... and never below one pixel.
    {1000, 10, 10, -1, 10, 1},
    {10, 1000, -1, 10, 1, 10},
    // A limit of 0 or less fixes that side at one pixel.
    {600, 450, 0, -1, 1, 1},
    {450, 600, -1, 0, 1, 1},
    {600, 450, -5, -1, 1, 1},
    {450, 600, -1, INT32_MIN, 1, 1},
    // Both sides given: no aspect ratio kept; upscaling works too.
    {600, 450, 300, 100, 300, 100},
    {7, 3, 14, -1, 14, 6},
    {5, 5, 1, 1, 1, 1},
    // Both -1: left alone.
    {37, 23, -1, -1, 37, 23},
};
INSTANTIATE_TEST_SUITE_P(Table, ResizeSizes, ::testing::ValuesIn(kResizeCases),
                         [](const ::testing::TestParamInfo<ResizeCase>& info) {
                             const ResizeCase& c = info.param;
                             auto side = [](int32_t v) { return v < 0 ? "m" + std::to_string(-int64_t(v)) : std::to_string(v); };
                             return std::to_string(c.width) + "x" + std::to_string(c.height) + "_to_" + side(c.toWidth) +
                                    "_" + side(c.toHeight);
                         });

TEST(ResizeRefusal, SizeBeyondLimitLeavesImageAsItWas) {
    ScratchDir dir;
    const imaging::Handle image = LoadPrepared(dir, "p.bmp", MakeBmp(7, 5, Pattern));
    ASSERT_NE(image, 0u);
    const Picture before = PictureFromDib(image);
    imaging::Resize(image, 50000, 50000);  // 7.5 GB as a 24-bit DIB
    imaging::Resize(image, INT32_MAX, -1);
    imaging::Resize(image, -1, INT32_MAX);
    const imaging::ImageInfo* info = imaging::Info(image);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->header->biWidth, 7);
    EXPECT_EQ(info->header->biHeight, 5);
    EXPECT_EQ(Compare(PictureFromDib(image), before).largest, 0);
    imaging::Release(image);
}

TEST(ResizeQuality, FineStripesBecomeEvenGreyNotNearestNeighbour) {
    // One-pixel black and white columns: picking pixels gives black or white columns, a real
    // filter an even grey (128, or 188 when it averages light rather than sRGB values).
    ScratchDir dir;
    const imaging::Handle image = LoadPrepared(dir, "stripes.bmp", MakeBmp(64, 16, [](int x, int) {
        const uint8_t v = (x % 2) ? 255 : 0;
        return Rgb{v, v, v};
    }));
    ASSERT_NE(image, 0u);
    imaging::Resize(image, 16, -1);
    const Picture picture = PictureFromDib(image);
    ASSERT_EQ(picture.width, 16);
    ASSERT_EQ(picture.height, 4);
    for (const Rgb& p : picture.pixels) {
        EXPECT_GE(p.g, 96);
        EXPECT_LE(p.g, 224);
    }
    // Away from the edges (where the stripes' phase is not symmetric) the grey is even.
    int lowest = 255, highest = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 1; x < picture.width - 1; ++x) {
            lowest = std::min<int>(lowest, picture.at(x, y).g);
            highest = std::max<int>(highest, picture.at(x, y).g);
        }
    }
    EXPECT_LE(highest - lowest, 8);
    imaging::Release(image);
}

TEST(ResizeQuality, DownscaledGradientStaysSmooth) {
    // A horizontal ramp with fine vertical noise: a filtered 4:1 reduction averages the noise
    // away and keeps a steady ramp; point sampling keeps the noise.
    ScratchDir dir;
    const imaging::Handle image = LoadPrepared(dir, "ramp.bmp", MakeBmp(256, 64, [](int x, int y) {
        const int noise = ((x * 7 + y * 13) % 5 - 2) * 12;
        const uint8_t v = uint8_t(std::clamp(x + noise, 0, 255));
        return Rgb{v, v, v};
    }));
    ASSERT_NE(image, 0u);
    imaging::Resize(image, 64, -1);
    const Picture picture = PictureFromDib(image);
    ASSERT_EQ(picture.width, 64);
    ASSERT_EQ(picture.height, 16);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 2; x < picture.width - 2; ++x) {
            const int expected = 4 * x + 2;  // mean of source columns 4x .. 4x+3
            EXPECT_NEAR(picture.at(x, y).g, expected, 12) << x << "," << y;
            EXPECT_GE(picture.at(x, y).g + 2, picture.at(x - 1, y).g) << x << "," << y;
        }
    }
    imaging::Release(image);
}

}  // namespace

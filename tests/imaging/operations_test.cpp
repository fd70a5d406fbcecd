// The operations on prepared images and the handle table behind them: the DIB's layout and the
// Info record, ReadPixel inside and outside the picture, independent copies, a full table, stale
// handles (their slot empty or reused) and unknown ones, and Resize (sizes, refusals, filtering).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "imaging/handles.h"
#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;
using imaging::Handle;

// A prepared picture of odd width (rows need padding) made from a hand-written BMP, so that it
// comes through the platform's loader like any picture the program opens.
class PreparedImage : public ::testing::Test {
protected:
    static constexpr int kWidth = 7;
    static constexpr int kHeight = 5;

    void SetUp() override {
        image_ = LoadPrepared(dir_, "pattern.bmp", MakeBmp(kWidth, kHeight, DistinctColour));
        ASSERT_NE(image_, 0u);
    }
    void TearDown() override { imaging::Release(image_); }

    ScratchDir dir_;
    Handle image_ = 0;
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
    EXPECT_EQ(h.biSizeImage, 24u * kHeight);  // 21 bytes of pixels a row, padded to 24
}

TEST_F(PreparedImage, RowsAreBottomUpBgrPaddedToFourBytes) {
    const imaging::ImageInfo* info = imaging::Info(image_);
    ASSERT_NE(info, nullptr);
    const int64_t stride = imaging::DibStride(kWidth);
    ASSERT_EQ(stride, 24);  // 21 bytes of pixels + 3 of padding
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = info->pixels + (kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const Rgb expected = DistinctColour(x, y);
            EXPECT_EQ(row[3 * x], expected.b) << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], expected.g) << x << "," << y;
            EXPECT_EQ(row[3 * x + 2], expected.r) << x << "," << y;
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
    const Rgb topLeft = DistinctColour(0, 0);
    const uint8_t* topRow = pixels + (kHeight - 1) * imaging::DibStride(kWidth);
    EXPECT_EQ(topRow[2], topLeft.r);
    EXPECT_EQ(topRow[0], topLeft.b);
}

TEST_F(PreparedImage, PreparingAgainKeepsThePictureInPlace) {
    const Picture before = PictureFromDib(image_);
    const uint8_t* pixels = imaging::Info(image_)->pixels;
    EXPECT_EQ(imaging::Prepare(image_), 1);
    EXPECT_EQ(imaging::Info(image_)->pixels, pixels);
    EXPECT_EQ(Compare(PictureFromDib(image_), before).largest, 0);
}

TEST_F(PreparedImage, DuplicateIsAnIndependentCopy) {
    const Handle copy = imaging::Duplicate(image_);
    ASSERT_NE(copy, 0u);
    EXPECT_NE(copy, image_);
    const imaging::ImageInfo* source = imaging::Info(image_);
    const imaging::ImageInfo* duplicate = imaging::Info(copy);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(duplicate, nullptr);
    EXPECT_EQ(duplicate->handle, copy);
    EXPECT_NE(duplicate->pixels, source->pixels);
    EXPECT_EQ(0, std::memcmp(duplicate->header, source->header, sizeof(imaging::BitmapInfoHeader)));
    const size_t imageBytes = size_t(imaging::DibStride(kWidth) * kHeight);
    EXPECT_EQ(0, std::memcmp(duplicate->pixels, source->pixels, imageBytes));  // padding included
    const Picture original = PictureFromDib(image_);

    // Writing the copy's pixels, as the frame drawing does, leaves the source alone, and back.
    std::memset(duplicate->pixels, 0x11, imageBytes);
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

// ---- ReadPixel ----

struct PictureSize {
    const char* name;
    int width, height;
};

std::ostream& operator<<(std::ostream& out, const PictureSize& s) { return out << s.width << "x" << s.height; }

// Every point just outside each edge, the corners beyond, and the extremes of the coordinates.
std::vector<std::pair<int32_t, int32_t>> PointsOutside(int32_t width, int32_t height) {
    std::vector<std::pair<int32_t, int32_t>> points = {
        {width, height}, {-1, -1},       {INT32_MIN, 0}, {0, INT32_MIN},
        {INT32_MAX, 0},  {0, INT32_MAX}, {INT32_MAX, INT32_MAX}};
    for (int32_t y = 0; y < height; ++y) {
        points.push_back({-1, y});
        points.push_back({width, y});
    }
    for (int32_t x = 0; x < width; ++x) {
        points.push_back({x, -1});
        points.push_back({x, height});
    }
    return points;
}

class ReadPixelOn : public ::testing::TestWithParam<PictureSize> {};

TEST_P(ReadPixelOn, ReadsFromTheTopAndGivesZeroOutside) {
    const PictureSize& size = GetParam();
    ScratchDir dir;
    const Handle image = LoadPrepared(dir, "picture.bmp", MakeBmp(size.width, size.height, DistinctColour));
    ASSERT_NE(image, 0u);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            EXPECT_EQ(imaging::ReadPixel(image, x, y), ColorRef(DistinctColour(x, y))) << x << "," << y;
        }
    }
    for (const auto& [x, y] : PointsOutside(size.width, size.height)) {
        EXPECT_EQ(imaging::ReadPixel(image, x, y), 0u) << x << "," << y;
    }
    imaging::Release(image);
}

const PictureSize kReadPixelSizes[] = {
    {"RowsPadded", 7, 5},
    // 4 pixels make 12 bytes, a row without padding: one step past the right edge lands on the
    // next stored row's first pixel, which is not black, so a loose bound shows.
    {"RowsWithoutPadding", 4, 3},
    // Taller than wide: bounds that mix up width and height let (3, 0) through.
    {"TallerThanWide", 3, 4},
};
INSTANTIATE_TEST_SUITE_P(Sizes, ReadPixelOn, ::testing::ValuesIn(kReadPixelSizes),
                         [](const ::testing::TestParamInfo<PictureSize>& info) { return std::string(info.param.name); });

// ---- The handle table ----

// Expects `image` to be the width x height picture of DistinctColour it was made as.
void ExpectDistinctPicture(Handle image, int width, int height) {
    const imaging::ImageInfo* info = imaging::Info(image);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->header->biWidth, width);
    EXPECT_EQ(info->header->biHeight, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(imaging::ReadPixel(image, x, y), ColorRef(DistinctColour(x, y))) << x << "," << y;
        }
    }
}

// Every operation refuses `handle` (stale or unknown) or does nothing with it, and a GIF with it
// among its frames is not written.
void ExpectRefusedEverywhere(Handle handle, const ScratchDir& dir, Handle live) {
    EXPECT_EQ(imaging::Info(handle), nullptr) << handle;
    EXPECT_EQ(imaging::ReadPixel(handle, 0, 0), 0u) << handle;
    EXPECT_EQ(imaging::Prepare(handle), 0) << handle;
    EXPECT_EQ(imaging::Duplicate(handle), 0u) << handle;
    imaging::Resize(handle, 5, 5);
    imaging::Release(handle);
    imaging::Release(handle);  // twice: nothing happens either
    const std::string out = dir.file("refused.gif");
    const Handle frames[] = {live, handle};
    EXPECT_EQ(imaging::WriteAnimatedGif(out.c_str(), frames, 2, 6), 0) << handle;
}

// The handle table filled with 2 x 3 pictures of DistinctColour, released again at the end.
class FullTable : public ::testing::Test {
protected:
    void SetUp() override {
        for (Handle h; (h = MakeImage(2, 3, DistinctColour)) != 0;) images_.push_back(h);
        ASSERT_EQ(images_.size(), imaging::kMaxImages);
    }
    void TearDown() override {
        for (Handle h : images_) imaging::Release(h);
    }
    // Frees the image at `index`, so that the next new image goes into its slot; its handle.
    Handle Free(size_t index) {
        const Handle freed = images_[index];
        imaging::Release(freed);
        images_[index] = 0;
        return freed;
    }

    std::vector<Handle> images_;
};

TEST_F(FullTable, RefusesNewImagesUntilASlotIsFreed) {
    EXPECT_EQ(imaging::Duplicate(images_[0]), 0u);
    EXPECT_EQ(MakeImage(1, 1, DistinctColour), 0u);
    Free(images_.size() - 1);
    const Handle copy = imaging::Duplicate(images_[0]);
    EXPECT_NE(copy, 0u);
    ExpectDistinctPicture(copy, 2, 3);
    imaging::Release(copy);
}

TEST_F(FullTable, EveryReuseOfASlotGivesANewHandle) {
    std::vector<Handle> earlier = {Free(5)};
    for (int round = 0; round < 20; ++round) {
        // The only free slot: the new image must go there.
        const Handle reused = MakeImage(2, 3, DistinctColour);
        ASSERT_NE(reused, 0u);
        EXPECT_EQ(reused & imaging::detail::kSlotMask, earlier[0] & imaging::detail::kSlotMask);
        for (Handle old : earlier) {
            EXPECT_NE(reused, old);
            EXPECT_EQ(imaging::Info(old), nullptr) << old;
            EXPECT_EQ(imaging::ReadPixel(old, 0, 0), 0u) << old;
        }
        imaging::Release(reused);
        earlier.push_back(reused);
    }
}

// How a handle went stale: released with its slot left empty, or with the slot given since to a
// new image, which the stale handle must not reach.
struct StaleCase {
    const char* name;
    bool slotReused;
};

void PrintTo(const StaleCase& c, std::ostream* out) { *out << c.name; }

class StaleHandle : public FullTable, public ::testing::WithParamInterface<StaleCase> {};

TEST_P(StaleHandle, IsRefusedEverywhereAndLeavesTheLiveImageAlone) {
    const Handle stale = Free(5);
    Handle live = images_[6];
    if (GetParam().slotReused) {
        live = MakeImage(2, 3, DistinctColour);
        ASSERT_NE(live, 0u);
        ASSERT_EQ(live & imaging::detail::kSlotMask, stale & imaging::detail::kSlotMask);
        ASSERT_NE(live, stale);
        images_[5] = live;
    }
    Free(images_.size() - 1);  // a free slot, so that only the handle can make Duplicate refuse
    ScratchDir dir;
    ExpectRefusedEverywhere(stale, dir, live);
    EXPECT_TRUE(dir.names().empty());
    ExpectDistinctPicture(live, 2, 3);
}

const StaleCase kStaleCases[] = {{"SlotLeftEmpty", false}, {"SlotReused", true}};
INSTANTIATE_TEST_SUITE_P(Slots, StaleHandle, ::testing::ValuesIn(kStaleCases),
                         [](const ::testing::TestParamInfo<StaleCase>& info) { return std::string(info.param.name); });

TEST(UnknownHandle, IsRefusedEverywhereAndLeavesTheLiveImageAlone) {
    const Handle live = MakeImage(2, 3, DistinctColour);
    ASSERT_NE(live, 0u);
    // Never given out: 0, handles of generation 0 (below the slot count), arbitrary values, and
    // the live handle with its top bit flipped or its slot moved by one.
    const Handle unknown[] = {0u,          1u,          2u,          0x7FFFFFFFu,           0x80000000u,
                              0xDEADBEEFu, 0xFFFFFFFFu, live ^ 0x80000000u, live + 1};
    ScratchDir dir;
    for (Handle h : unknown) ExpectRefusedEverywhere(h, dir, live);
    EXPECT_TRUE(dir.names().empty());
    ExpectDistinctPicture(live, 2, 3);
    imaging::Release(live);
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
    const imaging::Handle image = LoadPrepared(dir, "p.bmp", MakeBmp(7, 5, DistinctColour));
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

// The image library's handle table and the operations on prepared images: stale handles are
// refused after release and slot reuse, a full table refuses new images, copies are independent,
// ReadPixel reads from the top and refuses what it cannot read.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/imaging.h"
#include "tests/imaging/core_test_images.h"

namespace {

using core_test::Distinct;
using core_test::MakeImage;
using imaging::Handle;

uint32_t Grey(int32_t, int32_t) { return 0x808080; }

TEST(HandleTable, ReleasedHandleIsRefusedEvenAfterItsSlotIsReused) {
    // Fill the table so that the next image must reuse the slot just freed.
    std::vector<Handle> all;
    for (Handle h; (h = MakeImage(1, 1, Grey)) != 0;) all.push_back(h);
    ASSERT_EQ(all.size(), imaging::detail::kSlotCount);
    const Handle released = all[5];
    imaging::Release(released);
    const Handle reused = MakeImage(2, 3, Distinct);
    ASSERT_NE(reused, 0u);
    EXPECT_EQ(reused & imaging::detail::kSlotMask, released & imaging::detail::kSlotMask);
    EXPECT_NE(reused, released);

    EXPECT_EQ(imaging::Info(released), nullptr);
    EXPECT_EQ(imaging::Prepare(released), 0);
    EXPECT_EQ(imaging::Duplicate(released), 0u);
    EXPECT_EQ(imaging::ReadPixel(released, 0, 0), 0u);
    imaging::Resize(released, 5, 5);
    imaging::Release(released);  // must not free the image now living in that slot
    ASSERT_NE(imaging::Info(reused), nullptr);
    EXPECT_EQ(imaging::Info(reused)->header->biWidth, 2);
    EXPECT_EQ(imaging::ReadPixel(reused, 1, 2), Distinct(1, 2));

    imaging::Release(reused);
    for (size_t i = 0; i < all.size(); ++i) {
        if (i != 5) imaging::Release(all[i]);
    }
}

TEST(HandleTable, FullTableRefusesDuplicateAndRecovers) {
    std::vector<Handle> all;
    for (Handle h; (h = MakeImage(1, 1, Grey)) != 0;) all.push_back(h);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(imaging::Duplicate(all[0]), 0u);
    imaging::Release(all.back());
    all.pop_back();
    const Handle copy = imaging::Duplicate(all[0]);
    EXPECT_NE(copy, 0u);
    imaging::Release(copy);
    for (Handle h : all) imaging::Release(h);
}

TEST(HandleTable, HandlesAreNeverZeroAndUnknownOnesAreRefused) {
    const Handle a = MakeImage(1, 1, Grey);
    ASSERT_NE(a, 0u);
    for (Handle unknown : {Handle(0), Handle(a ^ 0x80000000u), Handle(a + 1), Handle(0xFFFFFFFFu)}) {
        EXPECT_EQ(imaging::Info(unknown), nullptr) << unknown;
        EXPECT_EQ(imaging::ReadPixel(unknown, 0, 0), 0u) << unknown;
        EXPECT_EQ(imaging::Prepare(unknown), 0) << unknown;
        EXPECT_EQ(imaging::Duplicate(unknown), 0u) << unknown;
        imaging::Release(unknown);
    }
    EXPECT_NE(imaging::Info(a), nullptr);
    imaging::Release(a);
}

TEST(ImageInfo, DescribesA24BitBottomUpDib) {
    const Handle image = MakeImage(5, 3, Distinct);
    const imaging::ImageInfo* info = imaging::Info(image);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->recordSize, sizeof(imaging::ImageInfo));
    EXPECT_EQ(info->handle, image);
    const imaging::BitmapInfoHeader& h = *info->header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 16u * 3);  // 15 bytes of pixels padded to 16
    // Last row first: the first stored pixel is the bottom-left one.
    EXPECT_EQ(info->pixels[0], uint8_t(Distinct(0, 2) >> 16));
    EXPECT_EQ(info->pixels[2], uint8_t(Distinct(0, 2)));
    EXPECT_EQ(imaging::Prepare(image), 1);  // preparing again is harmless
    EXPECT_EQ(imaging::Info(image)->pixels, info->pixels);
    imaging::Release(image);
}

TEST(ReadPixel, ReadsFromTheTopAndRefusesOutsideThePicture) {
    const Handle image = MakeImage(3, 4, Distinct);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(imaging::ReadPixel(image, x, y), Distinct(x, y)) << x << "," << y;
    }
    const int32_t outside[][2] = {{-1, 0}, {0, -1}, {3, 0}, {0, 4}, {INT32_MIN, 0}, {0, INT32_MAX}};
    for (const auto& p : outside) EXPECT_EQ(imaging::ReadPixel(image, p[0], p[1]), 0u) << p[0] << "," << p[1];
    imaging::Release(image);
}

TEST(Duplicate, CopyIsIndependentAndKeepsTheLayout) {
    const Handle source = MakeImage(7, 5, Distinct);
    const Handle copy = imaging::Duplicate(source);
    ASSERT_NE(copy, 0u);
    ASSERT_NE(copy, source);
    const imaging::ImageInfo* a = imaging::Info(source);
    const imaging::ImageInfo* b = imaging::Info(copy);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->pixels, b->pixels);
    EXPECT_EQ(0, std::memcmp(a->header, b->header, sizeof(imaging::BitmapInfoHeader)));
    EXPECT_EQ(0, std::memcmp(a->pixels, b->pixels, a->header->biSizeImage));
    b->pixels[0] ^= 0xFF;
    EXPECT_EQ(imaging::ReadPixel(source, 0, 4), Distinct(0, 4));
    imaging::Release(source);  // the copy outlives its source
    EXPECT_EQ(imaging::ReadPixel(copy, 1, 1), Distinct(1, 1));
    imaging::Release(copy);
}

}  // namespace

// Real transparent pictures through the real library and the warp: every frame's transparency
// is the source's, moved exactly as the reference warp moves the pixels, in every format that
// carries transparency and that the platform's loader reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "convert/shake_warp.h"
#include "tests/support/reference_warp.h"

namespace {

std::string TestData(const std::string& relative) {
    std::string path = std::string(WOBZY_TESTDATA) + "/" + relative;
#ifdef _WIN32
    // Under Wine the Unix path is seen through drive Z:.
    path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
#endif
    return path;
}

// Which pixels of a DIB are the key, row by row from the bottom as stored.
std::vector<bool> KeyMask(const ImageInfo* info) {
    const int32_t width = info->header->biWidth, height = info->header->biHeight;
    const int64_t stride = imaging::DibStride(width);
    std::vector<bool> mask;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = info->pixels + stride * y;
        for (int32_t x = 0; x < width; ++x, p += 3) {
            mask.push_back((uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]) == uint32_t(info->transparentKey));
        }
    }
    return mask;
}

class TransparentFrames : public ::testing::TestWithParam<const char*> {};

TEST_P(TransparentFrames, EveryFrameIsTheReferenceWarpOfTheSourceTransparencyIncluded) {
    const ImageOperations& images = kImagingLibraryOperations;
    const std::string path = TestData(GetParam());
    const ImageHandle source = images.load(path.c_str());
    ASSERT_NE(source, 0u) << path << " (run scripts/fetch-test-images)";
    ASSERT_NE(images.prepare(source), 0);
    const ImageInfo* info = images.info(source);
    const int32_t width = info->header->biWidth, height = info->header->biHeight;
    ASSERT_GE(info->transparentKey, 0) << "the picture has transparent pixels";
    const std::vector<bool> sourceMask = KeyMask(info);
    randomSequenceState = 1;
    ShakeMesh mesh;
    for (int frame = 0; frame < kFrameCount; ++frame) {
        SCOPED_TRACE(frame);
        const ImageHandle copy = images.duplicate(source);
        ASSERT_NE(copy, 0u);
        BuildShakeMesh(&mesh, width, height, 20, 20);
        const ImageInfo* copyInfo = images.info(copy);
        const std::vector<uint8_t> before(copyInfo->pixels, copyInfo->pixels + copyInfo->header->biSizeImage);
        WarpFrame(images, &mesh, source, width, height, copy);
        const std::vector<uint8_t> expected = ReferenceWarp(imaging::ReadPixel, mesh, source, width, height, before);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), copyInfo->pixels));
        EXPECT_EQ(copyInfo->transparentKey, info->transparentKey);
        const std::vector<bool> mask = KeyMask(copyInfo);
        EXPECT_NE(mask, sourceMask) << "the transparency moved with the picture";
        EXPECT_GT(std::count(mask.begin(), mask.end(), true), 0);
        images.release(copy);
    }
    images.release(source);
}

INSTANTIATE_TEST_SUITE_P(Formats, TransparentFrames,
                         ::testing::Values("photo/yellow_rose.png",  // RGBA
                                           "photo/toucan.png",       // palette with tRNS
                                           "transparent/rose.gif",   // a transparent colour
                                           "transparent/rose.tiff"   // alpha
#ifndef _WIN32
                                           ,
                                           "transparent/rose.webp"   // alpha; Wine has no WebP codec
#endif
                                           ),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c; ++c) name += std::isalnum(uint8_t(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace

// Files that must be refused cleanly: corrupt, truncated, empty, missing, a folder, and headers
// claiming sizes nothing could hold or that the file cannot back. LoadFile returns 0, nothing
// crashes, and (where the heap can be watched) no allocation near the claimed size is attempted.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tests/imaging/crafted_files.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;

// Refusing from the header costs little; decoding the files below legitimately takes a few MB.
constexpr size_t kHugeAllocation = size_t(64) << 20;

void ExpectRefused(const std::string& path) {
    ResetLargestAllocation();
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    EXPECT_EQ(image, 0u) << path;
    if (AllocationProbeAvailable()) {
        EXPECT_LT(LargestAllocation(), kHugeAllocation) << path << ": largest allocation";
    }
    if (image != 0) imaging::Release(image);
}

// ---- Files from other projects' collections of broken images ----

class RefusesFetchedFile : public ::testing::TestWithParam<const char*> {};

std::string PathName(const ::testing::TestParamInfo<const char*>& info) { return ParamName(info.param); }

TEST_P(RefusesFetchedFile, LoadFails) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    ExpectRefused(TestData(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(PngSuiteCorrupted, RefusesFetchedFile,
                         ::testing::Values("pngsuite/corrupted/xc1n0g08.png",  // colour type 1
                                           "pngsuite/corrupted/xc9n2c08.png",  // colour type 9
                                           "pngsuite/corrupted/xcrn0g04.png",  // CR added to signature
                                           "pngsuite/corrupted/xcsn0g01.png",  // IDAT checksum
                                           "pngsuite/corrupted/xd0n2c08.png",  // bit depth 0
                                           "pngsuite/corrupted/xd3n2c08.png",  // bit depth 3
                                           "pngsuite/corrupted/xd9n2c08.png",  // bit depth 99
                                           "pngsuite/corrupted/xdtn0g01.png",  // no IDAT
                                           "pngsuite/corrupted/xhdn0g08.png",  // IHDR checksum
                                           "pngsuite/corrupted/xlfn0g04.png",  // LF added
                                           "pngsuite/corrupted/xs1n0g01.png",  // signature
                                           "pngsuite/corrupted/xs2n0g01.png",
                                           "pngsuite/corrupted/xs4n0g01.png",
                                           "pngsuite/corrupted/xs7n0g01.png"),
                         PathName);

INSTANTIATE_TEST_SUITE_P(Broken, RefusesFetchedFile,
                         ::testing::Values("bad/premature-end.jpg",          // truncated CMYK JPEG
                                           "bad/claims-64250x64250.jpg",
                                           "bad/claims-935820x854554.png",
                                           "bad/claims-1x1509949441.bmp",
                                           "bad/invalid-lzw-code.gif",
                                           "bad/overflow-dimensions.tiff",
                                           "bad/large-25200x33300.png",      // real data, 2.5 GB as a DIB
                                           "bad/gif-frame-claims-huge.gif",
                                           "bad/xpm-claims-41474x21474.xpm",
                                           "bad/empty.png"),
                         PathName);

TEST(RefusesPath, MissingFile) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    ExpectRefused(TestData("snake/no-such-file.png"));
}

TEST(RefusesPath, Folder) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    ExpectRefused(TestData("snake"));
}

TEST(RefusesPath, EmptyPathAndNull) {
    EXPECT_EQ(imaging::LoadFile(""), 0u);
    EXPECT_EQ(imaging::LoadFile(nullptr), 0u);
}

// ---- Real files cut short: a partial picture is a failure, not a half-grey image ----

class RefusesTruncated : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusesTruncated, HalfAFileFails) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestData(std::string("snake/") + GetParam()), &bytes));
    bytes.resize(bytes.size() / 2);
    ScratchDir dir;
    const std::string path = dir.file(std::string("half-") + GetParam());
    ASSERT_TRUE(WriteFile(path, bytes));
    ExpectRefused(path);
}

INSTANTIATE_TEST_SUITE_P(Snake, RefusesTruncated,
                         ::testing::Values("snake.png", "snake.jpg", "snake.bmp", "snake.gif", "snake.tiff"
#ifndef _WIN32
                                           ,
                                           "snake.tga", "snake.ppm", "snake.webp"
#endif
                                           ),
                         PathName);

// ---- Hand-made headers claiming sizes ----

// A 24-bit BMP header claiming width x height (negative: top-down), followed by a few pixels.
std::vector<uint8_t> BmpClaiming(int32_t width, int32_t height) {
    std::vector<uint8_t> out = BmpHeaders(width, height, 0, 54 + 12);
    out.insert(out.end(), 12, 0x80);
    return out;
}

// A small valid BMP whose info header claims to be `headerBytes` long (a field loaders use to
// size the buffer they read the header into).
std::vector<uint8_t> BmpHeaderClaiming(uint32_t headerBytes) {
    std::vector<uint8_t> out = BmpClaiming(2, 2);
    for (int i = 0; i < 4; ++i) out[14 + i] = uint8_t(headerBytes >> (8 * i));
    return out;
}

// A 32 x 32 four-bit BMP, complete with its 16 colours and pixels, whose header says it uses
// `colours` palette entries (at most 16 make sense).
std::vector<uint8_t> FourBitBmpClaimingColours(uint32_t colours) {
    std::vector<uint8_t> out = {'B', 'M'};
    const uint32_t paletteBytes = 16 * 4, pixelBytes = 32 * 16;
    PutLe(out, 54 + paletteBytes + pixelBytes, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54 + paletteBytes, 4);
    PutLe(out, 40, 4);
    PutLe(out, 32, 4);
    PutLe(out, 32, 4);
    PutLe(out, 1, 2);
    PutLe(out, 4, 2);
    PutLe(out, 0, 4);
    PutLe(out, pixelBytes, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 2835, 4);
    PutLe(out, colours, 4);
    PutLe(out, 0, 4);
    for (uint32_t i = 0; i < 16; ++i) PutLe(out, i * 0x101010u, 4);
    for (uint32_t i = 0; i < pixelBytes; ++i) out.push_back(uint8_t(i * 7));
    return out;
}

// A GIF whose screen and only image claim width x height, with a few bytes of LZW data.
std::vector<uint8_t> GifClaiming(uint16_t width, uint16_t height) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe(out, width, 2);
    PutLe(out, height, 2);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // two-colour global table
    out.push_back(0x2C);
    PutLe(out, 0, 2);
    PutLe(out, 0, 2);
    PutLe(out, width, 2);
    PutLe(out, height, 2);
    out.insert(out.end(), {0, 2, 2, 0x4C, 0x01, 0, 0x3B});
    return out;
}

// A real file with its size fields rewritten: the data that follows backs only 600 x 450.
std::vector<uint8_t> SnakePngClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(TestData("snake/snake.png"), &bytes) || bytes.size() < 33) return {};
    std::vector<uint8_t> fields;
    PutBe32(fields, width);
    PutBe32(fields, height);
    std::memcpy(&bytes[16], fields.data(), 8);  // IHDR data starts after signature, length, type
    std::vector<uint8_t> crc;
    PutBe32(crc, Crc32(&bytes[12], 17));
    std::memcpy(&bytes[29], crc.data(), 4);
    return bytes;
}

struct ClaimCase {
    const char* name;  // also the file name, so the loader can guess by extension too
    std::function<std::vector<uint8_t>()> make;
};

std::ostream& operator<<(std::ostream& out, const ClaimCase& c) { return out << c.name; }

class RefusesClaimedSize : public ::testing::TestWithParam<ClaimCase> {};

TEST_P(RefusesClaimedSize, LoadFails) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::vector<uint8_t> bytes = GetParam().make();
    ASSERT_FALSE(bytes.empty());
    ScratchDir dir;
    const std::string path = dir.file(GetParam().name);
    ASSERT_TRUE(WriteFile(path, bytes));
    ExpectRefused(path);
}

const ClaimCase kClaims[] = {
    // Sizes whose 24-bit DIB cannot be addressed in 32 bits.
    {"bmp-width-2p30-plus-1.bmp", [] { return BmpClaiming((1 << 30) + 1, 1); }},
    {"bmp-height-2p31-top-down.bmp", [] { return BmpClaiming(1, INT32_MIN + 1); }},
    {"png-46341-square.png", [] { return PngClaiming(46341, 46341); }},
    {"gif-65535-square.gif", [] { return GifClaiming(65535, 65535); }},
    {"snake-claims-60000-square.jpg", [] { return SnakeJpegClaiming(60000, 60000); }},
    // Sizes a 24-bit DIB could hold (1.2 GB) that these few bytes cannot back.
    {"png-20000-square.png", [] { return PngClaiming(20000, 20000); }},
    {"bmp-20000-square.bmp", [] { return BmpClaiming(20000, 20000); }},
    {"gif-20000-square.gif", [] { return GifClaiming(20000, 20000); }},
    {"snake-claims-20000-square.png", [] { return SnakePngClaiming(20000, 20000); }},
    {"snake-claims-20000-square.jpg", [] { return SnakeJpegClaiming(20000, 20000); }},
    // A header size no file this small can hold (found by fuzzing).
    {"bmp-info-header-2gb.bmp", [] { return BmpHeaderClaiming(0x80765858u); }},
    // Nothing to show.
    {"png-width-0.png", [] { return PngClaiming(0, 10); }},
    {"bmp-width-0.bmp", [] { return BmpClaiming(0, 10); }},
    {"gif-height-0.gif", [] { return GifClaiming(10, 0); }},
};
TEST(LyingSideField, BmpUsingFourBillionColoursAllocatesNoPaletteForThem) {
    // Pixels and palette are intact, so a tolerant decoder (WIC) may show the picture; what must
    // not happen is a palette buffer sized by the field (found by fuzzing: 4 GB).
    ScratchDir dir;
    const std::string path = dir.file("bmp-4bit-uses-4g-colours.bmp");
    ASSERT_TRUE(WriteFile(path, FourBitBmpClaimingColours(0xFFFFFFFFu)));
    ResetLargestAllocation();
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    if (AllocationProbeAvailable()) {
        EXPECT_LT(LargestAllocation(), kHugeAllocation);
    }
    if (image != 0) {
        ASSERT_NE(imaging::Prepare(image), 0);
        EXPECT_EQ(imaging::Info(image)->header->biWidth, 32);
        EXPECT_EQ(imaging::Info(image)->header->biHeight, 32);
        imaging::Release(image);
    }
}

INSTANTIATE_TEST_SUITE_P(HandMade, RefusesClaimedSize, ::testing::ValuesIn(kClaims),
                         [](const ::testing::TestParamInfo<ClaimCase>& info) { return ParamName(info.param.name); });

}  // namespace

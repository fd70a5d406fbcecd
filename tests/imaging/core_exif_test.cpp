// The EXIF orientation read straight from a JPEG's APP1 segment: both byte orders, the tag among
// others, and damaged or missing data giving 1 (upright).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/exif.h"
#include "tests/imaging/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

int OrientationOf(const Bytes& bytes) {
    int result = -1;
    testing_support::WithBytesInFile(bytes, [&](std::FILE* in) {
        ASSERT_NE(in, nullptr);
        result = imaging::detail::JpegExifOrientation(in);
    });
    return result;
}

void Put16(Bytes& out, unsigned v, bool bigEndian) {
    if (bigEndian) out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
    else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
}

void Put32(Bytes& out, uint32_t v, bool bigEndian) {
    Put16(out, bigEndian ? v >> 16 : v & 0xFFFF, bigEndian);
    Put16(out, bigEndian ? v & 0xFFFF : v >> 16, bigEndian);
}

struct Entry {
    unsigned tag, type;
    uint32_t count;
    unsigned value;
};

// SOI, an APP0, an APP1 Exif segment with IFD0 holding `entries`, then the start of a scan.
Bytes JpegWith(const std::vector<Entry>& entries, bool bigEndian) {
    Bytes tiff = {uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
    Put16(tiff, 42, bigEndian);
    Put32(tiff, 8, bigEndian);
    Put16(tiff, unsigned(entries.size()), bigEndian);
    for (const Entry& e : entries) {
        Put16(tiff, e.tag, bigEndian);
        Put16(tiff, e.type, bigEndian);
        Put32(tiff, e.count, bigEndian);
        Put16(tiff, e.value, bigEndian);
        Put16(tiff, 0, bigEndian);
    }
    Put32(tiff, 0, bigEndian);
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00};
    const size_t length = 2 + 6 + tiff.size();
    out.insert(out.end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)});
    out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x02, 0x11, 0x22, 0xFF, 0xD9});
    return out;
}

TEST(JpegExifOrientation, ReadsTheTagInBothByteOrders) {
    for (bool bigEndian : {false, true}) {
        for (unsigned orientation = 1; orientation <= 8; ++orientation) {
            const Bytes jpeg = JpegWith({{0x010F, 2, 4, 0x4141}, {0x0112, 3, 1, orientation}}, bigEndian);
            EXPECT_EQ(OrientationOf(jpeg), int(orientation)) << (bigEndian ? "MM " : "II ") << orientation;
        }
    }
}

TEST(JpegExifOrientation, AcceptsTheTagStoredAsAnyIntegerType) {
    for (unsigned type : {3u, 4u, 8u, 9u}) {  // SHORT, LONG, SSHORT, SLONG
        for (bool bigEndian : {false, true}) {
            // A 32-bit value in big-endian order puts the number in the second 16 bits.
            const bool wide = type == 4 || type == 9;
            const Entry entry = {0x0112, type, 1, wide && bigEndian ? 0u : 6u};
            Bytes jpeg = JpegWith({entry}, bigEndian);
            if (wide && bigEndian) jpeg[jpeg.size() - 8 - 4 - 1] = 6;  // low byte of the 32-bit value
            EXPECT_EQ(OrientationOf(jpeg), 6) << "type " << type << (bigEndian ? " MM" : " II");
        }
    }
}

TEST(JpegExifOrientation, MissingOrDamagedDataMeansUpright) {
    EXPECT_EQ(OrientationOf(JpegWith({{0x010F, 2, 4, 0x4141}}, true)), 1);       // no tag
    EXPECT_EQ(OrientationOf(JpegWith({{0x0112, 3, 1, 9}}, true)), 1);            // out of range
    EXPECT_EQ(OrientationOf(JpegWith({{0x0112, 3, 1, 0}}, false)), 1);
    EXPECT_EQ(OrientationOf(JpegWith({{0x0112, 2, 1, 6}}, false)), 1);           // text, not a number
    EXPECT_EQ(OrientationOf(JpegWith({{0x0112, 3, 2, 6}}, false)), 1);           // wrong count
    Bytes badMagic = JpegWith({{0x0112, 3, 1, 6}}, true);
    ASSERT_EQ(badMagic[21], 42);
    badMagic[21] = 0;  // the TIFF header's magic number
    EXPECT_EQ(OrientationOf(badMagic), 1);
    Bytes cut = JpegWith({{0x0112, 3, 1, 6}}, true);
    cut.resize(30);  // ends inside the APP1 segment
    EXPECT_EQ(OrientationOf(cut), 1);
    EXPECT_EQ(OrientationOf({0x89, 'P', 'N', 'G'}), 1);  // no JPEG
    EXPECT_EQ(OrientationOf({}), 1);
}

}  // namespace

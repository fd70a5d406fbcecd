// Files cut short in formats whose decoders would fill the gap quietly: a JPEG must reach its
// end-of-image marker, a PNG its IEND chunk, a RIFF file the length its header gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/completeness.h"
#include "tests/imaging/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Complete(const Bytes& bytes) {
    bool result = false;
    testing_support::WithBytesInFile(bytes, [&](std::FILE* in) {
        ASSERT_NE(in, nullptr);
        result = imaging::detail::ContainerComplete(in, bytes.size());
    });
    return result;
}

// The marker structure of a progressive JPEG: segments with lengths, two scans whose data holds a
// stuffed 0xFF 0x00, a restart marker and fill bytes, then EOI.
Bytes Jpeg() {
    return {0xFF, 0xD8,                                     // SOI
            0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F',     // APP0
            0xFF, 0xC2, 0x00, 0x05, 0x08, 0x00, 0x01,       // SOF2 (shortened)
            0xFF, 0xDA, 0x00, 0x03, 0x01,                   // SOS
            0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56,       // data, stuffed FF, RST0
            0xFF, 0xFF, 0xDA, 0x00, 0x03, 0x02,             // fill byte, second SOS
            0x78, 0x9A,
            0xFF, 0xD9};                                    // EOI
}

// Offsets of the chunks' data in Png(), for damaging them.
constexpr size_t kIdatData = 8 + 12 + 13 + 8;
constexpr size_t kTextData = kIdatData + 300 + 4 + 8;

// Chunks with valid CRCs (only the structure matters here, not the content).
Bytes Png() {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&out](const char* type, size_t length) {
        out.insert(out.end(), {0, 0, uint8_t(length >> 8), uint8_t(length)});
        const size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), length, 0x11);
        const uint32_t crc = testing_support::Crc32(&out[start], out.size() - start);
        out.insert(out.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    };
    chunk("IHDR", 13);
    chunk("IDAT", 300);
    chunk("tEXt", 20);
    chunk("IEND", 0);
    return out;
}

Bytes Riff() {
    Bytes out = {'R', 'I', 'F', 'F', 20, 0, 0, 0, 'W', 'E', 'B', 'P'};
    out.resize(28, 0x22);
    return out;
}

TEST(ContainerComplete, WholeFilesPassAndEveryCutIsCaught) {
    const struct {
        const char* name;
        Bytes bytes;
        size_t shortestRecognised;  // fewer bytes cannot be told apart from another format
    } cases[] = {{"jpeg", Jpeg(), 3}, {"png", Png(), 8}, {"riff", Riff(), 12}};
    for (const auto& c : cases) {
        EXPECT_TRUE(Complete(c.bytes)) << c.name;
        for (size_t cut = c.shortestRecognised; cut < c.bytes.size(); ++cut) {
            EXPECT_FALSE(Complete(Bytes(c.bytes.begin(), c.bytes.begin() + ptrdiff_t(cut))))
                << c.name << " cut to " << cut << " bytes";
        }
    }
}

TEST(ContainerComplete, DataAfterTheEndIsAllowed) {
    for (Bytes bytes : {Jpeg(), Png(), Riff()}) {
        bytes.insert(bytes.end(), 1000, 0xAB);  // e.g. a video appended to a photo
        EXPECT_TRUE(Complete(bytes));
    }
}

TEST(ContainerComplete, DamagedStructureIsRefused) {
    Bytes jpeg = Jpeg();
    jpeg[10] = 0x12;  // the marker before SOF lost its 0xFF
    EXPECT_FALSE(Complete(jpeg));
    Bytes png = Png();
    png[8] = 0x80;  // IHDR length beyond 2^31
    EXPECT_FALSE(Complete(png));
}

TEST(ContainerComplete, PngCriticalChunksMustMatchTheirCrc) {
    Bytes idat = Png();
    idat[kIdatData + 100] ^= 0x01;
    EXPECT_FALSE(Complete(idat));
    Bytes text = Png();
    text[kTextData + 3] ^= 0x01;  // an ancillary chunk: decoders drop it and go on
    EXPECT_TRUE(Complete(text));
}

TEST(ContainerComplete, OtherFormatsAreLeftToTheirDecoders) {
    EXPECT_TRUE(Complete({'G', 'I', 'F', '8', '9', 'a', 1, 0}));
    EXPECT_TRUE(Complete({'B', 'M'}));
    EXPECT_TRUE(Complete({}));
}

}  // namespace

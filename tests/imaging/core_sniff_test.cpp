// Checks made before a decoder sees a file: a GIF's first frame walked through its LZW codes
// (complete, cut, damaged, oversized), and sizes claimed by TGA, XPM, WebP and BMP headers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/sniff.h"
#include "tests/imaging/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using imaging::detail::SniffResult;

SniffResult Sniff(const Bytes& bytes) {
    SniffResult result = {false, 0};
    testing_support::WithBytesInFile(bytes, [&](std::FILE* in) {
        ASSERT_NE(in, nullptr);
        result = imaging::detail::SniffFile(in, bytes.size());
    });
    return result;
}

void PutLe16(Bytes& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

struct Code {
    unsigned value;
    int width;
};

// LZW codes packed least significant bit first into one sub-block, then the terminator.
Bytes Packed(const std::vector<Code>& codes) {
    Bytes data;
    uint32_t buffer = 0;
    int count = 0;
    for (const Code& c : codes) {
        buffer |= c.value << count;
        count += c.width;
        while (count >= 8) {
            data.push_back(uint8_t(buffer));
            buffer >>= 8;
            count -= 8;
        }
    }
    if (count > 0) data.push_back(uint8_t(buffer));
    Bytes out = {uint8_t(data.size())};
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(0);
    return out;
}

// A four-colour GIF whose one frame is width x height, with a graphic control extension first.
Bytes Gif(unsigned width, unsigned height, const std::vector<Code>& codes) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(out, width);
    PutLe16(out, height);
    out.insert(out.end(), {0x81, 0, 0});                     // global table of 4 colours
    out.insert(out.end(), 12, 0x40);
    out.insert(out.end(), {0x21, 0xF9, 4, 0, 10, 0, 0, 0});  // graphic control extension
    out.push_back(0x2C);
    PutLe16(out, 0);
    PutLe16(out, 0);
    PutLe16(out, width);
    PutLe16(out, height);
    out.push_back(0);
    out.push_back(2);  // minimum code size
    const Bytes data = Packed(codes);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Clear, the four pixels 0 1 2 3 (the table reaches 8 entries after "2", so "3" takes 4 bits), end.
const std::vector<Code> kFourPixels = {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}};

TEST(SniffGif, CompleteFrameIsAcceptedAndEndsWhereItsDataEnds) {
    Bytes gif = Gif(2, 2, kFourPixels);
    const size_t frameEnd = gif.size();
    gif.push_back(0x21);  // a second frame's extension, then the trailer: not needed for frame one
    gif.insert(gif.end(), {0xF9, 4, 0, 10, 0, 0, 0, 0x3B});
    const SniffResult result = Sniff(gif);
    EXPECT_TRUE(result.acceptable);
    EXPECT_EQ(result.decodeBytes, frameEnd);
}

TEST(SniffGif, RepeatedStringsAndTheCodeBeingDefinedAreCounted) {
    // 2 x 3 = 6 pixels: "0", then code 6 ("00", defined by this very use), then "000" as code 7.
    EXPECT_TRUE(Sniff(Gif(3, 2, {{4, 3}, {0, 3}, {6, 3}, {7, 3}, {5, 4}})).acceptable);
}

TEST(SniffGif, EveryCutInsideTheFirstFrameIsRefused) {
    const Bytes gif = Gif(2, 2, kFourPixels);
    for (size_t cut = 13; cut < gif.size(); ++cut) {
        EXPECT_FALSE(Sniff(Bytes(gif.begin(), gif.begin() + ptrdiff_t(cut))).acceptable) << cut;
    }
}

TEST(SniffGif, DamagedOrShortDataIsRefused) {
    const std::vector<Code> cases[] = {
        {{7, 3}, {5, 3}},                          // first code is neither a colour nor clear
        {{4, 3}, {0, 3}, {1, 3}, {5, 3}},          // end code after two of four pixels
        {{4, 3}, {0, 3}, {7, 3}, {5, 3}},          // code 7 used before it exists (next is 6)
        {{4, 3}, {0, 3}},                          // data runs out
    };
    for (const auto& codes : cases) EXPECT_FALSE(Sniff(Gif(2, 2, codes)).acceptable);
}

TEST(SniffGif, OversizedOrEmptyFrameIsRefused) {
    EXPECT_FALSE(Sniff(Gif(20000, 20000, kFourPixels)).acceptable);  // 400 Mpixels from 60 bytes
    EXPECT_FALSE(Sniff(Gif(0, 4, kFourPixels)).acceptable);
}

Bytes Tga(unsigned mapType, unsigned imageType, unsigned width, unsigned height) {
    Bytes out = {0, uint8_t(mapType), uint8_t(imageType), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutLe16(out, width);
    PutLe16(out, height);
    out.insert(out.end(), {24, 0});
    out.resize(100, 0x33);
    return out;
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes Webp(const char* chunk, const Bytes& data) {
    Bytes out = Text("RIFF");
    out.insert(out.end(), {uint8_t(12 + data.size()), 0, 0, 0});
    out.insert(out.end(), {'W', 'E', 'B', 'P'});
    out.insert(out.end(), chunk, chunk + 4);
    out.insert(out.end(), {uint8_t(data.size()), 0, 0, 0});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Bmp(uint32_t infoBytes, uint32_t pixelOffset) {
    Bytes out = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
    for (uint32_t v : {pixelOffset, infoBytes}) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }
    out.resize(200, 0);
    return out;
}

TEST(SniffFile, ClaimedSizesOfEagerDecodersAreChecked) {
    const struct {
        const char* name;
        Bytes bytes;
        bool acceptable;
    } cases[] = {
        {"tga 100 x 100", Tga(0, 2, 100, 100), true},
        {"tga rle 60000 x 30000", Tga(0, 10, 60000, 30000), false},
        {"tga colour-mapped 60000 x 30000", Tga(1, 1, 60000, 30000), false},
        {"tga-like bytes of an ISO media file", [] { Bytes b = Tga(0, 2, 60000, 30000); std::memcpy(&b[4], "ftyp", 4); return b; }(), true},
        {"xpm 16 x 16", Text("/* XPM */\nstatic char *x[] = {\n\"16 16 2 1\",\n"), true},
        {"xpm 41474 x 21474", Text("/* XPM */\nstatic char *x[] = {\n\"41474 21474 4 2 \",\n"), false},
        // The XPM loader allocates whatever size it reads without asking first: a size that cannot
        // be read here is refused, and one behind a comment is read as the loader reads it.
        {"xpm without a size", Text("/* XPM */\nstatic char *x[] = {\n\"x\",\n"), false},
        {"xpm size after a comment holding a quote",
         Text("/* XPM */\nstatic char *x[] = {\n/* \"16 16\" */\n\"41474 21474 4 2 \",\n"), false},
        {"xpm size after a comment, small", Text("/* XPM */\nstatic char *x[] = {\n/* \"41474\" */ \"16 16 2 1\",\n"), true},
        {"webp lossless 16383 x 16383", Webp("VP8L", {0x2F, 0xFE, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0}), false},
        {"webp lossless 4 x 4", Webp("VP8L", {0x2F, 0x03, 0xC0, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}), true},
        {"webp extended 16384 x 16384", Webp("VP8X", {0, 0, 0, 0, 0xFF, 0x3F, 0, 0xFF, 0x3F, 0, 0, 0, 0, 0}), false},
        {"webp lossy 16383 x 16383", Webp("VP8 ", {0, 0, 0, 0x9D, 0x01, 0x2A, 0xFF, 0x3F, 0xFF, 0x3F, 0, 0, 0, 0}), false},
        {"webp lossy 64 x 48", Webp("VP8 ", {0, 0, 0, 0x9D, 0x01, 0x2A, 64, 0, 48, 0, 0, 0, 0, 0}), true},
        {"bmp", Bmp(40, 54), true},
        {"bmp info header of 2 GB", Bmp(0x80765858u, 54), false},
        {"bmp info header past the end", Bmp(190, 54), false},
        {"bmp pixels past the end", Bmp(40, 5000), false},
        {"png is left to its decoder", Text("\x89PNG\r\n\x1a\n"), true},
    };
    for (const auto& c : cases) EXPECT_EQ(Sniff(c.bytes).acceptable, c.acceptable) << c.name;
}

}  // namespace

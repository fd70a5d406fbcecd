// Frames for the GIF encoder's tests: pictures drawn in memory (few-colour and photo-like), the
// encoder run into a byte vector, and a reader that walks the GIF's block structure.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/gif/gif_encoder.h"

namespace giftest {

// Top-down 24-bit pixels (blue, green, red), rows packed or padded to `stride`; pixels of the
// colour transparentKey (0xRRGGBB) are transparent, none when it is gif::kOpaque.
struct Picture {
    int width;
    int height;
    ptrdiff_t stride;
    std::vector<uint8_t> bgr;
    int32_t transparentKey = gif::kOpaque;
};

// `frames` frames, each drawn by a function of (frame, x, y) returning 0xRRGGBB.
std::vector<Picture> DrawFrames(int frames, int width, int height, uint32_t (*colourAt)(int, int, int));

// A few hard-edged blocks in at most `colours` colours that move a little from frame to frame,
// so later frames repeat part of the earlier ones.
std::vector<Picture> FewColourFrames(int frames, int width, int height, int colours);

// Smooth gradients with fine texture, thousands of colours, shifted a pixel per frame.
std::vector<Picture> PhotoLikeFrames(int frames, int width, int height);

// Paints the pixels where transparentAt(frame, x, y) holds in one colour that no other pixel of
// any frame has, and makes it every frame's transparentKey (also of frames that keep no such pixel).
void MakeTransparent(std::vector<Picture>* pictures, bool (*transparentAt)(int, int, int));

// Whether pixel (x, y) of the picture is its key colour.
bool IsTransparentPixel(const Picture& picture, int x, int y);

// Where five frames are transparent, and the disposal (1 "do not dispose", 2 "restore to
// background") each frame must carry for the next frame, and the first after the last, to show right.
struct TransparencyCase {
    const char* name;
    bool (*transparentAt)(int frame, int x, int y);
    int disposals[5];
};

std::vector<TransparencyCase> TransparencyCases();

inline void PrintTo(const TransparencyCase& c, std::ostream* os) { *os << c.name; }

std::vector<gif::Frame> FramesOf(const std::vector<Picture>& pictures);

// Encodes with the given options; empty on failure.
std::vector<uint8_t> Encode(const std::vector<Picture>& pictures, const gif::EncodeOptions& options);

struct ImageBlock {
    int left, top, width, height;
    bool interlaced, localTable;
    int minCodeSize;
    bool hasControl;        // a graphic control extension came before it
    int disposal;
    int delayCs;
    bool transparent;
    int transparentIndex;
    size_t dataBytes;       // LZW bytes in the sub-blocks
};

struct GifLayout {
    bool valid;             // every block was understood and the trailer ends the file
    std::string error;
    std::string signature;
    int width, height;
    bool globalTable;
    int globalTableEntries;
    int loopCount;          // -1 without a NETSCAPE2.0 extension
    std::vector<ImageBlock> images;
};

GifLayout ReadLayout(const std::vector<uint8_t>& gif);

}  // namespace giftest

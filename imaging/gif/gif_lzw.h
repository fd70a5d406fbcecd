// GIF's variable-length LZW: codes grow from min+1 to 12 bits, a clear code restarts the table
// before it fills, and the code stream goes out in sub-blocks of at most 255 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/gif/gif_sink.h"

namespace gif {
namespace detail {

// The string table as a direct map (code, next symbol) -> code: one load per pixel and no probing.
// Its 2 MB are zero between images; an image clears only the entries it set, which it finds
// through `slotOfCode`.
struct LzwTables {
    uint16_t* children;    // kLzwChildEntries values, all zero
    uint32_t* slotOfCode;  // kLzwCodes values
};

const size_t kLzwCodes = 4096;
const size_t kLzwChildEntries = kLzwCodes * 256;

// The pixels of one image: shown[i] of this frame, or `unchangedIndex` where `previous` (when not
// null) already shows the same index.
struct LzwInput {
    const uint8_t* shown;
    const uint8_t* previous;
    int unchangedIndex;
    size_t pixelCount;
    int minCodeSize;  // 2..8
    LzwTables tables;
};

const size_t kLzwChunk = 4096;                 // symbols worked out at a time
const size_t kLzwRunStart = 3;                 // see FillSymbols
const size_t kLzwStreamBytes = 255 * 16;       // code stream held before whole sub-blocks go out

// Codes on their way out: a 64-bit bit buffer emptied four bytes at a time into `stream`
// (kLzwStreamBytes + 4 bytes), which is cut into 255-byte sub-blocks.
struct BitPacker {
    uint64_t bits;
    int bitCount;   // below 32 between codes
    size_t length;  // bytes in `stream`
    uint8_t* stream;
    SinkWriter* writer;
};

// One image being encoded while its pixels are still being mapped: everything that carries over
// from one call to the next.
struct LzwImage {
    LzwInput input;
    BitPacker packer;
    size_t encoded;      // pixels read so far
    uint32_t prefix;     // the string matched so far (valid once a pixel is read)
    uint32_t nextCode;
    int codeSize;
    uint8_t run;         // the last pixel read was sent as "unchanged"
    uint8_t stream[kLzwStreamBytes + 4];
    uint8_t same[kLzwChunk + kLzwRunStart];
    uint8_t symbols[kLzwChunk];
};

// Writes the minimum code size byte and the first clear code.
void StartLzwImage(const LzwInput& input, SinkWriter* writer, LzwImage* image);

// Encodes what it can once pixels [0, readyPixels) are final: all of them when readyPixels is the
// image's pixel count, which also ends the image (last codes, sub-blocks, terminating empty block).
// Whatever the steps, the bytes are the same.
void ContinueLzwImage(LzwImage* image, size_t readyPixels);

}  // namespace detail
}  // namespace gif

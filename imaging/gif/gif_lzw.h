// GIF's variable-length LZW: codes grow from min+1 to 12 bits, a clear code restarts the table
// before it fills, and the code stream goes out in sub-blocks of at most 255 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/gif/gif_encoder.h"

namespace gif {
namespace detail {

// Buffers bytes on their way to the caller's sink; after the first failed write it drops the rest.
struct SinkWriter {
    ByteSink sink;
    std::vector<uint8_t> buffer;  // reserved up front, so appending never allocates
    bool failed;
};

void InitSinkWriter(SinkWriter* writer, ByteSink sink);  // throws std::bad_alloc
void Put(SinkWriter* writer, const uint8_t* bytes, size_t count);
void Flush(SinkWriter* writer);

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

// Writes the minimum code size byte, the sub-blocks and the terminating empty block.
void WriteLzwImageData(const LzwInput& input, SinkWriter* writer);

}  // namespace detail
}  // namespace gif

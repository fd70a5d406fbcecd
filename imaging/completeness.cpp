// Container walks that tell a complete JPEG, PNG or RIFF file from one cut short.
#include "imaging/completeness.h"

#include <algorithm>
#include <cstring>

#include "imaging/file_bytes.h"
#include "imaging/jpeg_markers.h"

namespace imaging::detail {

namespace {

// Walks the marker segments from after SOI, over every scan's data; true once EOI is reached.
bool JpegReachesEnd(std::FILE* file, uint64_t fileBytes) {
    JpegSegment segment;
    while (NextJpegSegment(file, &segment)) {
        if (segment.marker == kJpegEndOfImage) return true;
        if (!SkipBytes(file, segment.payloadBytes, fileBytes)) return false;
        if (segment.marker == kJpegStartOfScan && !SkipJpegScanData(file)) return false;
    }
    return false;
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t count) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

// Reads a chunk's data and stored CRC and compares it with the CRC of its type and data.
bool PngChunkCrcMatches(std::FILE* file, const uint8_t* type, uint32_t length) {
    uint32_t crc = Crc32Update(0xFFFFFFFFu, type, 4);
    uint8_t block[8192];
    for (uint32_t left = length; left > 0;) {
        const size_t count = left < sizeof block ? left : sizeof block;
        if (!ReadBytes(file, block, count)) return false;
        crc = Crc32Update(crc, block, count);
        left -= uint32_t(count);
    }
    uint8_t stored[4];
    return ReadBytes(file, stored, 4) && BigEndian32(stored) == (crc ^ 0xFFFFFFFFu);
}

// Walks the chunks up to IEND. Critical chunks (IHDR, PLTE, IDAT, IEND: upper-case first letter)
// must match their CRC, as decoders that check it require; other chunks are only skipped.
bool PngReachesEnd(std::FILE* file, uint64_t fileBytes) {
    for (;;) {
        uint8_t header[8];
        if (!ReadBytes(file, header, 8)) return false;
        const uint32_t length = BigEndian32(header);
        const uint8_t* type = header + 4;
        if (length > 0x7FFFFFFFu) return false;
        const bool critical = (type[0] & 0x20) == 0;
        if (critical) {
            if (!PngChunkCrcMatches(file, type, length)) return false;
        } else if (!SkipBytes(file, uint64_t(length) + 4, fileBytes)) {
            return false;
        }
        if (std::memcmp(type, "IEND", 4) == 0) return true;
    }
}

}  // namespace

bool ContainerComplete(std::FILE* file, uint64_t fileBytes) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    uint8_t head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return StartJpeg(file) && JpegReachesEnd(file, fileBytes);
    }
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got >= 8 && std::equal(kPngSignature, kPngSignature + 8, head)) {
        return std::fseek(file, 8, SEEK_SET) == 0 && PngReachesEnd(file, fileBytes);
    }
    if (got >= 12 && head[0] == 'R' && head[1] == 'I' && head[2] == 'F' && head[3] == 'F') {
        return uint64_t(LittleEndian32(head + 4)) + 8 <= fileBytes;
    }
    return true;
}

}  // namespace imaging::detail

// Container walks that tell a complete JPEG, PNG or RIFF file from one cut short.
#include "imaging/completeness.h"

#include <algorithm>
#include <cstring>

namespace imaging::detail {

namespace {

bool ReadBytes(std::FILE* file, uint8_t* bytes, size_t count) {
    return std::fread(bytes, 1, count, file) == count;
}

uint32_t BigEndian32(const uint8_t* b) {
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

uint32_t LittleEndian32(const uint8_t* b) {
    return uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0];
}

// Moves `count` bytes on; false when that would pass the end of the file. 64-bit offsets, so
// files beyond 2 GB are walked on 32-bit Windows too.
bool Skip(std::FILE* file, uint64_t count, uint64_t fileBytes) {
#ifdef _WIN32
    const int64_t position = _ftelli64(file);
    if (position < 0 || uint64_t(position) + count > fileBytes) return false;
    return _fseeki64(file, int64_t(count), SEEK_CUR) == 0;
#else
    const off_t position = ftello(file);
    if (position < 0 || uint64_t(position) + count > fileBytes) return false;
    return fseeko(file, off_t(count), SEEK_CUR) == 0;
#endif
}

// Entropy-coded data runs until a 0xFF that is followed by neither a stuffed 0x00, a restart
// marker nor another fill 0xFF; returns that marker's code, or -1 at the end of the file.
int MarkerAfterScan(std::FILE* file) {
    int byte = std::getc(file);
    for (;;) {
        while (byte != EOF && byte != 0xFF) byte = std::getc(file);
        if (byte == EOF) return -1;
        int next = std::getc(file);
        while (next == 0xFF) next = std::getc(file);
        if (next == EOF) return -1;
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) return next;
        byte = std::getc(file);
    }
}

// Walks the marker segments from after SOI; true once EOI is reached.
bool JpegReachesEnd(std::FILE* file, uint64_t fileBytes) {
    int marker = -1;
    for (;;) {
        if (marker < 0) {
            int byte = std::getc(file);
            if (byte != 0xFF) return false;
            while (byte == 0xFF) byte = std::getc(file);
            if (byte == EOF) return false;
            marker = byte;
        }
        if (marker == 0xD9) return true;  // EOI
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length field
            marker = -1;
            continue;
        }
        uint8_t length[2];
        if (!ReadBytes(file, length, 2)) return false;
        const unsigned segment = unsigned(length[0]) << 8 | length[1];
        if (segment < 2 || !Skip(file, segment - 2, fileBytes)) return false;
        marker = marker == 0xDA ? MarkerAfterScan(file) : -1;  // SOS: its scan data follows
        if (marker == -1 && std::feof(file)) return false;
    }
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
        } else if (!Skip(file, uint64_t(length) + 4, fileBytes)) {
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
        return std::fseek(file, 2, SEEK_SET) == 0 && JpegReachesEnd(file, fileBytes);
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

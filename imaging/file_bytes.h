// Reading the bytes of a file and the integers stored in them, for the checks made on a file
// before a decoder sees it. Offsets are 64-bit, so files beyond 2 GB are walked on 32-bit Windows.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

// The next byte, or EOF. Without the stream lock that getc takes for every byte: one thread reads
// a file at a time here, and the walks over a JPEG's or a GIF's data read it byte by byte.
inline int NextByte(std::FILE* file) {
#ifdef _WIN32
    return _getc_nolock(file);
#else
    return getc_unlocked(file);
#endif
}

inline bool ReadBytes(std::FILE* file, uint8_t* bytes, size_t count) {
    return std::fread(bytes, 1, count, file) == count;
}

inline unsigned LittleEndian16(const uint8_t* b) { return unsigned(b[0]) | unsigned(b[1]) << 8; }
inline uint32_t LittleEndian24(const uint8_t* b) { return LittleEndian16(b) | uint32_t(b[2]) << 16; }
inline uint32_t LittleEndian32(const uint8_t* b) { return LittleEndian24(b) | uint32_t(b[3]) << 24; }
inline unsigned BigEndian16(const uint8_t* b) { return unsigned(b[0]) << 8 | unsigned(b[1]); }
inline uint32_t BigEndian32(const uint8_t* b) { return uint32_t(BigEndian16(b)) << 16 | BigEndian16(b + 2); }

// The current position, or -1.
int64_t FilePosition(std::FILE* file);

// Moves to `offset` bytes from the start; false when the stream cannot seek there.
bool SeekTo(std::FILE* file, uint64_t offset);

// Moves `count` bytes on; false when that would pass the end of a file of `fileBytes` bytes.
bool SkipBytes(std::FILE* file, uint64_t count, uint64_t fileBytes);

}  // namespace imaging::detail

// Walking a JPEG file's marker segments: the metadata before the first scan, the scans, the end.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

constexpr int kJpegStartOfScan = 0xDA;
constexpr int kJpegEndOfImage = 0xD9;
constexpr int kJpegApp1 = 0xE1;

struct JpegSegment {
    int marker;             // the marker's code (the byte after 0xFF)
    uint32_t payloadBytes;  // the bytes after its length field; 0 for markers without one
};

// True when `file` starts with the start-of-image marker; leaves it after that marker.
bool StartJpeg(std::FILE* file);

// Reads the marker at the file's position (fill bytes before it allowed) and its length field,
// leaving the file at the start of the payload. False at the end of the file or when no marker
// stands there.
bool NextJpegSegment(std::FILE* file, JpegSegment* segment);

// After a start-of-scan segment's payload: reads through the entropy-coded data up to the next
// marker that is not a restart marker, and leaves the file at that marker. False at the end of
// the file.
bool SkipJpegScanData(std::FILE* file);

}  // namespace imaging::detail

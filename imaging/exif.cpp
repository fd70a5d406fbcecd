// EXIF orientation of a JPEG file: the first APP1 "Exif" segment, its TIFF header and IFD0.
#include "imaging/exif.h"

#include <cstdint>
#include <cstring>

#include "imaging/file_bytes.h"
#include "imaging/jpeg_markers.h"

namespace imaging::detail {

namespace {

struct TiffReader {
    const uint8_t* data;
    size_t size;
    bool bigEndian;

    bool Has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
    unsigned U16(size_t offset) const {
        const uint8_t* p = data + offset;
        return bigEndian ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
    }
    uint32_t U32(size_t offset) const {
        return bigEndian ? uint32_t(U16(offset)) << 16 | U16(offset + 2)
                         : uint32_t(U16(offset + 2)) << 16 | U16(offset);
    }
};

constexpr unsigned kOrientationTag = 0x0112;
// The tag is a SHORT, but some writers store it as another integer type; viewers read those too.
constexpr unsigned kShortType = 3;
constexpr unsigned kLongType = 4;
constexpr unsigned kSignedShortType = 8;
constexpr unsigned kSignedLongType = 9;

// Orientation from a TIFF structure (the APP1 payload after "Exif\0\0"); 1 when absent or damaged.
int OrientationInTiff(const uint8_t* data, size_t size) {
    if (size < 8) return 1;
    TiffReader tiff{data, size, data[0] == 'M'};
    if (!(data[0] == data[1] && (data[0] == 'M' || data[0] == 'I')) || tiff.U16(2) != 42) return 1;
    const size_t ifd = tiff.U32(4);
    if (!tiff.Has(ifd, 2)) return 1;
    const unsigned entries = tiff.U16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (!tiff.Has(entry, 12)) return 1;
        if (tiff.U16(entry) != kOrientationTag) continue;
        const unsigned type = tiff.U16(entry + 2);
        if (tiff.U32(entry + 4) != 1) return 1;
        uint32_t value;
        if (type == kShortType || type == kSignedShortType) {
            value = tiff.U16(entry + 8);
        } else if (type == kLongType || type == kSignedLongType) {
            value = tiff.U32(entry + 8);
        } else {
            return 1;
        }
        return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

}  // namespace

int JpegExifOrientation(std::FILE* file) {
    if (!StartJpeg(file)) return 1;
    // Metadata segments come before the first scan; stop there.
    JpegSegment segment;
    while (NextJpegSegment(file, &segment) && segment.marker != kJpegStartOfScan &&
           segment.marker != kJpegEndOfImage) {
        if (segment.marker == kJpegApp1 && segment.payloadBytes >= 6) {
            static uint8_t payload[0xFFFF];  // the longest a segment can be
            if (!ReadBytes(file, payload, segment.payloadBytes)) return 1;
            if (std::memcmp(payload, "Exif\0\0", 6) == 0) return OrientationInTiff(payload + 6, segment.payloadBytes - 6);
        } else if (std::fseek(file, long(segment.payloadBytes), SEEK_CUR) != 0) {
            return 1;
        }
    }
    return 1;
}

}  // namespace imaging::detail

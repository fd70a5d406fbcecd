// The JPEG marker walk shared by the completeness check and the EXIF reader.
#include "imaging/jpeg_markers.h"

#include "imaging/file_bytes.h"

namespace imaging::detail {

namespace {

// Markers that stand alone, without a length field: TEM and the restart markers.
bool HasNoLength(int marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

}  // namespace

bool StartJpeg(std::FILE* file) {
    uint8_t soi[2];
    return std::fseek(file, 0, SEEK_SET) == 0 && ReadBytes(file, soi, 2) && soi[0] == 0xFF && soi[1] == 0xD8;
}

bool NextJpegSegment(std::FILE* file, JpegSegment* segment) {
    int byte = NextByte(file);
    if (byte != 0xFF) return false;
    while (byte == 0xFF) byte = NextByte(file);
    if (byte == EOF) return false;
    segment->marker = byte;
    segment->payloadBytes = 0;
    if (HasNoLength(byte) || byte == kJpegEndOfImage) return true;
    uint8_t length[2];
    if (!ReadBytes(file, length, 2)) return false;
    const unsigned total = BigEndian16(length);
    if (total < 2) return false;
    segment->payloadBytes = total - 2;
    return true;
}

// Entropy-coded data runs until a 0xFF that is followed by neither a stuffed 0x00, a restart
// marker nor another fill 0xFF.
bool SkipJpegScanData(std::FILE* file) {
    int byte = NextByte(file);
    for (;;) {
        while (byte != EOF && byte != 0xFF) byte = NextByte(file);
        if (byte == EOF) return false;
        int next = NextByte(file);
        while (next == 0xFF) next = NextByte(file);
        if (next == EOF) return false;
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) {
            // Back to the 0xFF just before the marker's code, where NextJpegSegment starts.
            return std::fseek(file, -2, SEEK_CUR) == 0;
        }
        byte = NextByte(file);
    }
}

}  // namespace imaging::detail

// Which decoder reads which file on Linux: JPEG streams, bare or in a QuickTime image, go to
// libjpeg-turbo read whole from memory; everything else to gdk-pixbuf.
#include <sys/mman.h>

#include <cstring>

#include "imaging/decode_linux.h"
#include "imaging/exif.h"
#include "imaging/failure.h"
#include "imaging/file_bytes.h"

namespace imaging::detail {

namespace {

bool IsJpeg(const uint8_t* bytes, uint64_t size) {
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

struct ByteRange {
    uint64_t start = 0;
    uint64_t size = 0;
};

// A QuickTime image is a run of atoms (32-bit size, four-letter type) starting with its image
// description or data; the picture's own file is the payload of 'idat'. Empty when the bytes are
// no QuickTime image.
ByteRange QuickTimeImageData(const uint8_t* bytes, uint64_t size) {
    if (size < 8 || (std::memcmp(bytes + 4, "idsc", 4) != 0 && std::memcmp(bytes + 4, "idat", 4) != 0)) return {};
    for (uint64_t at = 0; size - at >= 8;) {
        const uint64_t atom = BigEndian32(bytes + at);
        if (atom < 8 || atom > size - at) return {};
        if (std::memcmp(bytes + at + 4, "idat", 4) == 0) return ByteRange{at + 8, atom - 8};
        at += atom;
    }
    return {};
}

// The file's bytes, mapped read-only; null when it cannot be mapped.
const uint8_t* MapWholeFile(std::FILE* file, uint64_t fileBytes) {
    if (fileBytes == 0 || fileBytes > SIZE_MAX) return nullptr;
    void* bytes = mmap(nullptr, size_t(fileBytes), PROT_READ, MAP_PRIVATE, fileno(file), 0);
    return bytes == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(bytes);
}

// The JPEG stream a file holds, bare or wrapped, or an empty range.
ByteRange JpegStream(const uint8_t* bytes, uint64_t size) {
    if (IsJpeg(bytes, size)) return ByteRange{0, size};
    const ByteRange data = QuickTimeImageData(bytes, size);
    return IsJpeg(bytes + data.start, data.size) ? data : ByteRange{};
}

}  // namespace

bool DecodeChecked(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, const RowMemory& memory,
                   DecodedImage* out) {
    const uint8_t* bytes = MapWholeFile(file, fileBytes);
    const ByteRange jpeg = bytes != nullptr ? JpegStream(bytes, fileBytes) : ByteRange{};
    if (jpeg.size == 0) {
        if (bytes != nullptr) munmap(const_cast<uint8_t*>(bytes), size_t(fileBytes));
        return DecodeWithPixbuf(file, decodeBytes, out);
    }
    const bool decoded = DecodeJpegBytes(bytes + jpeg.start, size_t(jpeg.size), memory, out);
    munmap(const_cast<uint8_t*>(bytes), size_t(fileBytes));
    if (decoded && jpeg.start == 0) out->orientation = JpegExifOrientation(file);
    return decoded;
}

}  // namespace imaging::detail

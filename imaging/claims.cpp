// Claimed picture sizes, format by format, from the headers alone.
#include "imaging/claims.h"

#include <cstring>
#include <vector>

#include "imaging/file_bytes.h"
#include "imaging/jpeg_markers.h"

namespace imaging::detail {

namespace {

Claim Found(int64_t width, int64_t height) { return Claim{true, false, width, height}; }

bool StartsWith(const uint8_t* head, size_t count, const char* text, size_t length) {
    return count >= length && std::memcmp(head, text, length) == 0;
}

// ICO and CUR: reserved 0, type 1 or 2, then an entry count of at least one.
bool LooksLikeIconDirectory(const uint8_t* head, size_t count) {
    return count >= 6 && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0 &&
           LittleEndian16(head + 4) > 0;
}

// TGA has no signature; these are the byte patterns gdk-pixbuf takes for one (colour-mapped,
// true-colour or grey, plain or run-length encoded). Width and height follow at bytes 12 and 14.
bool LooksLikeTga(const uint8_t* head, size_t count) {
    if (count < 18 || std::memcmp(head + 4, "ftyp", 4) == 0) return false;  // HEIF/AVIF box sizes can match
    if (LooksLikeIconDirectory(head, count)) return false;  // a cursor's hotspot would be read as the width
    const uint8_t mapType = head[1];
    const uint8_t imageType = head[2];
    if (mapType == 1) return imageType == 1 || imageType == 9;
    return mapType == 0 && (imageType == 2 || imageType == 3 || imageType == 10 || imageType == 11);
}

// Skips a C comment that starts at p, as gdk-pixbuf's XPM reader does wherever it looks for the
// next character it wants; null when the comment does not end within [p, end).
const char* SkipXpmComment(const char* p, const char* end) {
    if (end - p < 2 || p[0] != '/' || p[1] != '*') return p;
    for (const char* q = p + 2; q + 1 < end; ++q) {
        if (q[0] == '*' && q[1] == '/') return q + 2;
    }
    return nullptr;
}

// The position after the next `wanted` outside comments, or null.
const char* SeekXpmCharacter(const char* p, const char* end, char wanted) {
    while (p != nullptr && p < end) {
        if (*p == wanted) return p + 1;
        const char* after = SkipXpmComment(p, end);
        p = after == p ? p + 1 : after;
    }
    return nullptr;
}

// A decimal number as sscanf's %d reads it: white space, a sign, digits.
bool ReadXpmNumber(const char** p, const char* end, int64_t* value) {
    while (*p < end && (**p == ' ' || (**p >= '\t' && **p <= '\r'))) ++*p;
    const bool negative = *p < end && **p == '-';
    if (*p < end && (**p == '-' || **p == '+')) ++*p;
    if (*p == end || **p < '0' || **p > '9') return false;
    *value = 0;
    while (*p < end && **p >= '0' && **p <= '9' && *value < (int64_t(1) << 40)) *value = *value * 10 + (*(*p)++ - '0');
    if (negative) *value = -*value;
    return true;
}

// XPM: the first string after the array's '{' holds "width height colours characters-per-pixel".
// gdk-pixbuf's XPM loader allocates the picture as soon as it has read them, without asking, so a
// size that cannot be read here makes the file unreadable rather than leaving it to the loader.
Claim XpmClaim(const uint8_t* head, size_t count) {
    const char* end = reinterpret_cast<const char*>(head) + count;
    const char* p = SeekXpmCharacter(reinterpret_cast<const char*>(head) + 9, end, '{');
    p = p != nullptr ? SeekXpmCharacter(p, end, '"') : nullptr;
    int64_t width = 0, height = 0;
    if (p == nullptr || !ReadXpmNumber(&p, end, &width) || !ReadXpmNumber(&p, end, &height)) {
        Claim claim;
        claim.unreadable = true;
        return claim;
    }
    return Found(width, height);
}

// WebP: the canvas of an extended file, else the size in the VP8 or VP8L bitstream header.
Claim WebpClaim(const uint8_t* head, size_t count) {
    if (count < 30 || std::memcmp(head + 8, "WEBP", 4) != 0) return {};
    const uint8_t* chunk = head + 12;
    const uint8_t* data = chunk + 8;
    if (std::memcmp(chunk, "VP8X", 4) == 0) {
        return Found(int64_t(LittleEndian24(data + 4)) + 1, int64_t(LittleEndian24(data + 7)) + 1);
    }
    if (std::memcmp(chunk, "VP8L", 4) == 0) {
        const uint32_t bits = LittleEndian32(data + 1);
        return Found(int64_t(bits & 0x3FFF) + 1, int64_t((bits >> 14) & 0x3FFF) + 1);
    }
    if (std::memcmp(chunk, "VP8 ", 4) == 0) return Found(LittleEndian16(data + 6) & 0x3FFF, LittleEndian16(data + 8) & 0x3FFF);
    return {};
}

// BMP: a signed 32-bit width and height (negative height: top-down), or 16-bit ones in the old
// core header.
Claim BmpClaim(const uint8_t* head, size_t count) {
    if (count < 26) return {};
    if (LittleEndian32(head + 14) == 12) return Found(LittleEndian16(head + 18), LittleEndian16(head + 20));
    const int64_t width = int32_t(LittleEndian32(head + 18));
    const int64_t height = int32_t(LittleEndian32(head + 22));
    return Found(width, height < 0 ? -height : height);
}

// JPEG: the first frame header (SOF0 to SOF15 but DHT, JPG and DAC) before the first scan.
Claim JpegClaim(std::FILE* file) {
    if (!StartJpeg(file)) return {};
    JpegSegment segment;
    while (NextJpegSegment(file, &segment) && segment.marker != kJpegStartOfScan && segment.marker != kJpegEndOfImage) {
        const int m = segment.marker;
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            uint8_t frame[5];
            if (segment.payloadBytes < 5 || !ReadBytes(file, frame, 5)) return {};
            return Found(BigEndian16(frame + 3), BigEndian16(frame + 1));
        }
        if (std::fseek(file, long(segment.payloadBytes), SEEK_CUR) != 0) return {};
    }
    return {};
}

// TIFF: ImageWidth (256) and ImageLength (257) of the first directory, SHORT or LONG.
Claim TiffClaim(std::FILE* file, const uint8_t* head, size_t count, uint64_t fileBytes) {
    if (count < 8) return {};
    const bool big = head[0] == 'M';
    const auto u16 = [big](const uint8_t* p) { return big ? BigEndian16(p) : LittleEndian16(p); };
    const auto u32 = [big](const uint8_t* p) { return big ? BigEndian32(p) : LittleEndian32(p); };
    const uint32_t directory = u32(head + 4);
    uint8_t countBytes[2];
    if (directory > fileBytes || !SeekTo(file, directory) || !ReadBytes(file, countBytes, 2)) return {};
    const unsigned entries = u16(countBytes);
    int64_t sides[2] = {-1, -1};
    for (unsigned i = 0; i < entries; ++i) {
        uint8_t entry[12];
        if (!ReadBytes(file, entry, 12)) return {};
        const unsigned tag = u16(entry);
        if (tag != 256 && tag != 257) continue;
        const unsigned type = u16(entry + 2);
        sides[tag - 256] = type == 3 ? int64_t(u16(entry + 8)) : type == 4 ? int64_t(u32(entry + 8)) : -1;
    }
    return sides[0] < 0 || sides[1] < 0 ? Claim{} : Found(sides[0], sides[1]);
}

// ISO media boxes, as HEIF and AVIF files hold them.
struct Box {
    uint64_t start;    // of its contents
    uint64_t size;     // of its contents
    char type[4];
};

bool ReadBox(const uint8_t* region, uint64_t size, uint64_t at, Box* box) {
    if (at > size || size - at < 8) return false;
    uint64_t total = BigEndian32(region + at);
    uint64_t header = 8;
    if (total == 1) {
        if (size - at < 16) return false;
        total = uint64_t(BigEndian32(region + at + 8)) << 32 | BigEndian32(region + at + 12);
        header = 16;
    } else if (total == 0) {
        total = size - at;
    }
    if (total < header || total > size - at) return false;
    std::memcpy(box->type, region + at + 4, 4);
    box->start = at + header;
    box->size = total - header;
    return true;
}

// The largest image spatial extent ('ispe') inside meta/iprp/ipco: the primary picture, or the
// grid it is assembled from, which decoders allocate whole.
void LargestExtent(const uint8_t* region, uint64_t size, int depth, Claim* claim) {
    static const char* const kPath[] = {"iprp", "ipco", "ispe"};
    Box box;
    for (uint64_t at = 0; ReadBox(region, size, at, &box); at = box.start + box.size) {
        if (std::memcmp(box.type, kPath[depth], 4) != 0) continue;
        if (depth < 2) {
            LargestExtent(region + box.start, box.size, depth + 1, claim);
        } else if (box.size >= 12) {
            const uint8_t* extent = region + box.start + 4;  // after version and flags
            const int64_t width = BigEndian32(extent);
            const int64_t height = BigEndian32(extent + 4);
            if (!claim->found || width * height > claim->width * claim->height) *claim = Found(width, height);
        }
    }
}

// HEIF and AVIF: the top-level 'meta' box (read whole when under 1 MB) and its extents.
Claim HeifClaim(std::FILE* file, uint64_t fileBytes) {
    constexpr uint64_t kLargestMeta = uint64_t(1) << 20;
    uint64_t at = 0;
    uint8_t header[16];
    while (at + 8 <= fileBytes) {
        if (!SeekTo(file, at) || !ReadBytes(file, header, 8)) return {};
        uint64_t total = BigEndian32(header);
        uint64_t headerBytes = 8;
        if (total == 1) {
            if (!ReadBytes(file, header + 8, 8)) return {};
            total = uint64_t(BigEndian32(header + 8)) << 32 | BigEndian32(header + 12);
            headerBytes = 16;
        }
        if (total == 0) total = fileBytes - at;
        if (total < headerBytes || total > fileBytes - at) return {};
        if (std::memcmp(header + 4, "meta", 4) == 0) {
            const uint64_t size = total - headerBytes;
            if (size < 4 || size > kLargestMeta) return {};
            std::vector<uint8_t> meta(size);
            if (!ReadBytes(file, meta.data(), size)) return {};
            Claim claim;
            LargestExtent(meta.data() + 4, size - 4, 0, &claim);  // after version and flags
            return claim;
        }
        at += total;
    }
    return {};
}

}  // namespace

Claim HeaderClaim(std::FILE* file, const uint8_t* head, size_t count, uint64_t fileBytes) {
    static const char kPng[] = "\x89PNG\r\n\x1a\n";
    if (StartsWith(head, count, kPng, 8)) {
        return count >= 24 ? Found(BigEndian32(head + 16), BigEndian32(head + 20)) : Claim{};
    }
    if (count >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return JpegClaim(file);
    if (StartsWith(head, count, "BM", 2)) return BmpClaim(head, count);
    if (StartsWith(head, count, "II*\0", 4) || StartsWith(head, count, "MM\0*", 4)) {
        return TiffClaim(file, head, count, fileBytes);
    }
    if (StartsWith(head, count, "RIFF", 4)) return WebpClaim(head, count);
    if (count >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0) {
        try {
            return HeifClaim(file, fileBytes);
        } catch (...) {  // std::bad_alloc for the meta box: no claim read
            return {};
        }
    }
    if (StartsWith(head, count, "/* XPM */", 9)) return XpmClaim(head, count);
    if (LooksLikeTga(head, count)) return Found(LittleEndian16(head + 12), LittleEndian16(head + 14));
    return {};
}

}  // namespace imaging::detail

// The picture size a file's own header claims, read before any decoder sees the file, so that a
// picture too large for the memory limit is refused before a decoder allocates it (WIC and
// several gdk-pixbuf loaders allocate the whole picture before they read a single pixel).
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

struct Claim {
    bool found = false;       // the format was recognised and its size read
    bool unreadable = false;  // recognised, but its size could not be read where its loader reads it
    int64_t width = 0;
    int64_t height = 0;
};

// The size claimed by a PNG, JPEG, BMP, TIFF, WebP, HEIF/AVIF, TGA or XPM file whose first
// `count` bytes are `head`; `file` is read for the formats whose size lies further in (JPEG,
// TIFF, HEIF). Nothing found for other formats and for ICO and CUR files, whose directory can
// pass for a TGA header.
Claim HeaderClaim(std::FILE* file, const uint8_t* head, size_t count, uint64_t fileBytes);

}  // namespace imaging::detail

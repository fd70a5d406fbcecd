// Reads the EXIF orientation tag of a JPEG file straight from its APP1 segment, for decoders
// that do not report it (Wine's WIC JPEG decoder exposes no APP1 metadata).
#pragma once

#include <cstdio>

namespace imaging::detail {

// The orientation (1 to 8) recorded in the JPEG's EXIF data, or 1 when the file is no JPEG, has
// no such tag, or the tag is damaged. Reads `file` from its start.
int JpegExifOrientation(std::FILE* file);

}  // namespace imaging::detail

// The decoders behind the Linux decoding seam: libjpeg-turbo for JPEG (read whole from memory,
// every warning of missing or made-up pixels a failure) and gdk-pixbuf for every other format.
// decode_child_posix.cpp runs them in a child process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "imaging/decode.h"

namespace imaging::detail {

// Decodes the JPEG stream bytes[0..size) into 8-bit RGB rows taken from `memory`, with the
// settings gdk-pixbuf's JPEG loader uses, so the pixels are the ones it gives. False, with the
// reason recorded, for a damaged, cut short or incomplete stream (a scan or a progressive
// coefficient missing), a size that AcceptSize refuses, or a lack of memory. The orientation is
// left at 1.
bool DecodeJpegBytes(const uint8_t* bytes, size_t size, const RowMemory& memory, DecodedImage* out);

// Decodes `file` with gdk-pixbuf's loaders, fed in chunks so that the size its header claims is
// refused before a loader allocates the picture (of a GIF only its first `decodeBytes` bytes, its
// first frame). The rows belong to the returned image.
bool DecodeWithPixbuf(std::FILE* file, uint64_t decodeBytes, DecodedImage* out);

// Reads the list of gdk-pixbuf's loaders once, so that child processes inherit it instead of each
// reading it again.
void PrepareLoaders();

// Picks the decoder for `file` (JPEG, a QuickTime image holding a JPEG, everything else) and
// decodes it; checks on the container (sniff.h, completeness.h) have passed.
bool DecodeChecked(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, const RowMemory& memory,
                   DecodedImage* out);

}  // namespace imaging::detail

// Detects files cut short in the formats whose decoders quietly fill the missing part in
// (JPEG pads with grey, PNG and WebP return the rows they had): the container must be complete.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

// Reads `file` from its start. False when it is a JPEG that ends before its end-of-image marker,
// a PNG that ends before its IEND chunk or whose critical chunks fail their CRC, or a RIFF (WebP)
// file shorter than its header says;
// true for these when complete and for every other format (their decoders report truncation).
bool ContainerComplete(std::FILE* file, uint64_t fileBytes);

}  // namespace imaging::detail

// Checks made on a file's bytes before a decoder sees it: the size its header claims against the
// memory limit (claims.h; decoders may allocate the whole picture before they ask), a BMP info
// header larger than the file, and the first frame of a GIF, whose LZW data is walked so that a damaged or cut frame is refused and
// the decoder need not see (and hold) the frames after it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

struct SniffResult {
    bool acceptable = true;    // false: refuse the file without decoding it
    uint64_t decodeBytes = 0;  // a GIF: how many leading bytes hold its first frame; else 0
};

// Reads `file` from its start.
SniffResult SniffFile(std::FILE* file, uint64_t fileBytes);

}  // namespace imaging::detail

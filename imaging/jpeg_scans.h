// Proves a JPEG's entropy-coded data whole before a decoder that pads quietly sees it (WIC fills a
// scan that stops early with grey and shows a progressive file blurred when its last scans are
// missing). Every scan is Huffman-decoded just far enough to walk its blocks, without
// coefficients or pixels, and the file is refused on the damage libjpeg-turbo warns about on
// Linux, where any such warning fails the load, so that both platforms refuse the same files.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

enum class JpegScanVerdict {
    kWhole,       // every block of every scan is there, every code valid, every coefficient sent
    kDamaged,     // a scan cut, an invalid code or table, restart markers out of order, a
                  // progression libjpeg-turbo calls bogus, or a component or band never fully sent
    kUnchecked,   // a coding this check does not read (arithmetic, lossless, hierarchical, not 8-bit)
    kOutOfMemory, // the refinement history would pass the memory limit, or could not be had
    kTimedOut,    // the walk ran past the decoding time limit (a huge frame of empty scans)
};

struct JpegScanReport {
    JpegScanVerdict verdict = JpegScanVerdict::kUnchecked;
    uint32_t scans = 0;        // scans walked to their end
    // Bytes of entropy-coded data past the last block of a scan or a restart interval, which
    // decoders skip; an encoder leaves none, so a walk that miscounted bits shows up here.
    uint64_t unusedBytes = 0;
};

// Reads `file` (`fileBytes` long) from its start. Holds at most a bit per coefficient of a
// progressive frame, within CurrentLimits().memoryBytes, and gives up after
// CurrentLimits().decodeSeconds.
JpegScanReport CheckJpegScans(std::FILE* file, uint64_t fileBytes);

}  // namespace imaging::detail

// Hostile and damaged files made by the tests themselves: byte writers, headers claiming sizes,
// real files cut short, padded or wrapped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

void PutBe32(Bytes& out, uint32_t v);
void PutLe(Bytes& out, uint32_t v, int bytes);
void PutPngChunk(Bytes& out, const char* type, const Bytes& data);

// A well-formed RGB PNG whose IHDR claims width x height, with one tiny valid IDAT.
Bytes PngClaiming(uint32_t width, uint32_t height);

// The test photo snake.jpg with its frame header claiming width x height.
Bytes SnakeJpegClaiming(uint16_t width, uint16_t height);

// A GIF whose logical screen claims width x height around a complete 1 x 1 frame, after a
// comment of `padding` bytes (which proves nothing about the size).
Bytes PaddedGifOnScreen(uint16_t width, uint16_t height, size_t padding);

// An SVG of width x height holding one rectangle.
Bytes SvgClaiming(uint32_t width, uint32_t height);

// An SVG whose rendering takes minutes: `count` large rectangles, each heavily blurred.
Bytes SlowSvg(int count);

// The smallest HEIF structure that states an image extent (ftyp, then meta/iprp/ipco/ispe).
Bytes HeifClaiming(uint32_t width, uint32_t height);

// A JPEG (a test photo under the test data) whose entropy-coded data stops at `fraction` of the
// first scan, followed by an end-of-image marker; empty when the file cannot be read.
Bytes JpegScanCut(const std::string& relative, double fraction);

// A JPEG of several scans ended (with an end-of-image marker) after its first `scans` scans.
Bytes JpegEndedAfterScans(const std::string& relative, int scans);

// A QuickTime image holding `picture`.
Bytes QuickTimeImage(const Bytes& picture);

// A QuickTime image holding the first `fraction` of a JPEG file from the test data.
Bytes QuickTimeJpeg(const std::string& relative, double fraction);

// horse.cur from the test data with its cursor's hotspot at (hotspotX, 0).
Bytes CursorWithHotspotYZero();

}  // namespace testing_support

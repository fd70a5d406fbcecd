// Wobzy's image library: pictures decoded by the platform's loader, held behind 32-bit handles,
// prepared as 24-bit bottom-up DIBs, resized in place and written out as looping animated GIFs.
// Every failure (bad file, too large, out of memory, write error) comes back as a value; nothing throws.
// Not thread-safe: one thread calls it (the GIF writer spreads its own work over threads inside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace imaging {

using Handle = uint32_t;  // 0 names no image; stale or unknown handles are refused

// Same layout as the Windows BITMAPINFOHEADER.
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

// The record Info() returns; it belongs to the library and stays valid until the image is
// released or resized. Callers on 32-bit Windows read the header address at byte 8 and the
// pixel address at byte 12.
struct ImageInfo {
    uint32_t recordSize;             // sizeof(ImageInfo)
    Handle handle;                   // the image this record describes
    const BitmapInfoHeader* header;  // biWidth, biHeight (positive: bottom-up), biBitCount 24
    uint8_t* pixels;                 // blue, green, red; last row first; rows padded to 4 bytes
    // 0xRRGGBB: the colour of the pixels that are transparent, which no opaque pixel has; -1 when
    // the picture has no transparent pixel. Copies and resized images keep it.
    int32_t transparentKey = -1;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(ImageInfo, header) == 8, "header address at byte 8");
static_assert(offsetof(ImageInfo, pixels) == 12, "pixel address at byte 12");
#endif

// Bytes per row of a 24-bit DIB `width` pixels wide: 3 * width rounded up to a multiple of 4.
inline int64_t DibStride(int64_t width) { return (width * 3 + 3) & ~int64_t(3); }

// What one conversion may take. Every decode is held to these before it can hurt the machine:
// a picture whose conversion (ConversionBytes) would need more than memoryBytes is refused from
// the size its header claims, before any pixel memory is taken, and a decoder still running after
// decodeSeconds of wall-clock time is abandoned. On Linux the decoder runs in a child process held
// to the same memory and time, so that a loader's fault costs that file only.
struct Limits {
    uint64_t memoryBytes;    // default 2 GiB: a 100-megapixel photo, and what 32-bit Windows can hold
    uint32_t decodeSeconds;  // default 20
};
constexpr Limits kDefaultLimits = {uint64_t(2) << 30, 20};

// Sets the limits for the loads that follow; a field of 0 takes its default.
void SetLimits(const Limits& limits);
Limits CurrentLimits();

// The most memory converting a width x height picture takes at any moment: the decoder's rows
// beside the prepared picture, then the prepared picture, its five copies and the GIF encoder's
// index buffers, plus a fixed allowance for the encoder's tables. Saturates instead of wrapping.
uint64_t ConversionBytes(int64_t width, int64_t height);

// Decodes the first picture of a file with the platform's loader and turns it upright by its EXIF
// orientation; `path` is UTF-8 on every platform (see unicode.h). Only a regular file is opened
// (a FIFO, a device or a folder is refused at once). 0 for an unreadable, unknown, damaged or
// truncated file (a decoder that reports pixels missing or made up counts as damaged), a width or
// height below 1, a picture whose 24-bit DIB would not fit in 2^31 - 1 bytes or whose conversion
// would exceed the memory limit (kTooLarge, refused before any pixel memory is taken), a decoder
// that runs past the time limit (kTimedOut), a full table or lack of memory.
Handle LoadFile(const char* path);

// LoadFile for a picture read from `stream` up to its end (standard input, a pipe): the bytes are
// kept in an unnamed temporary file, never in memory, and go through the same checks and limits.
// The stream is left at its end; it is not closed.
Handle LoadStream(std::FILE* stream);

// Converts a loaded picture in place to a 24-bit bottom-up DIB, its transparent pixels stored as
// its transparent key (ImageInfo), and gives the decoder's memory back. Nonzero on success (again
// at once when already prepared); 0 for an unknown handle or when memory runs out (the image stays
// loaded).
int Prepare(Handle image);

// The image's record, or null for an unknown handle. Before Prepare the header already holds the
// final size (biSizeImage included) but `pixels` is null.
const ImageInfo* Info(Handle image);

// A new, independent prepared image of the same size and pixels. 0 for an unknown or unprepared
// image, when memory runs out or when the handle table (kMaxImages) is full.
Handle Duplicate(Handle image);

// Pixel (x, y), y counted from the top, as 0x00BBGGRR (COLORREF). 0 for an unknown or unprepared
// image and outside 0 <= x < width, 0 <= y < height. Cheap: no lock, no allocation.
uint32_t ReadPixel(Handle image, int32_t x, int32_t y);

// Resamples a prepared image in place (filtered, not nearest-neighbour; transparent pixels give
// no colour to their neighbours, and the smaller picture's transparency is derived anew). -1 marks the side that
// follows the aspect ratio (rounded, at least 1 pixel); any other value of 0 or less gives 1 pixel;
// both -1 leave the image alone. Afterwards the same handle names the resized image and its
// ImageInfo (same address) describes the new pixels. On failure (out of memory, result too large
// for a DIB, unknown or unprepared image) the image stays as it was.
void Resize(Handle image, int32_t width, int32_t height);

// Writes frames[0..count) (prepared, all of one size) as a GIF that loops forever, delayCs
// hundredths of a second per frame. The bytes go to a new temporary file beside `path` (UTF-8),
// which is renamed over `path` (replacing a file of that name) only when complete. Nonzero on success; on
// any failure 0, no temporary file left and an earlier file at `path` untouched.
int WriteAnimatedGif(const char* path, const Handle* frames, int32_t count, int32_t delayCs);

// The same GIF written to an open stream (standard output, say), opened in binary mode. A stream
// cannot be written whole or not at all: on failure (0) part of the GIF may have been written.
int WriteAnimatedGifToStream(std::FILE* stream, const Handle* frames, int32_t count, int32_t delayCs);

// Frees the image; its handle is refused from then on, even once its slot holds a new image.
// 0 and unknown handles are ignored.
void Release(Handle image);

// How many images can be held at once.
constexpr uint32_t kMaxImages = 1024;

// Why an operation failed, for callers that tell the user more than "failed".
enum class Failure {
    kNone,
    kNoSuchFile,
    kIsFolder,
    kNotAFile,        // a FIFO, a device or another special file: never opened for reading
    kAccessDenied,
    kReadError,
    kUnknownFormat,   // no loader recognises the file
    kDamaged,         // damaged or cut short
    kTooLarge,        // width x height would need bytesNeeded
    kOutOfMemory,
    kTimedOut,        // the decoder ran past its time limit
    kDiskFull,
    kReadOnly,        // the folder or the disk cannot be written
    kWriteError,
    kInvalidArgument, // an unknown handle, frames of different sizes...
};

struct FailureReport {
    Failure failure;
    int32_t width;         // kTooLarge: the size the picture claims
    int32_t height;
    uint64_t bytesNeeded;  // kTooLarge: what converting it would take (ConversionBytes)
};

// What made the last failing call of LoadFile, LoadStream, Prepare, Duplicate, Resize or WriteAnimatedGif
// fail; kNone once one of them succeeds.
FailureReport LastFailure();

}  // namespace imaging

// Wobzy's image library: pictures decoded by the platform's loader, held behind 32-bit handles,
// prepared as 24-bit bottom-up DIBs, resized in place and written out as looping animated GIFs.
// Every failure (bad file, too large, out of memory, write error) comes back as a value; nothing throws.
// Not thread-safe: one thread calls it (the GIF writer spreads its own work over threads inside).
#pragma once

#include <cstddef>
#include <cstdint>

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
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(ImageInfo, header) == 8, "header address at byte 8");
static_assert(offsetof(ImageInfo, pixels) == 12, "pixel address at byte 12");
#endif

// Bytes per row of a 24-bit DIB `width` pixels wide: 3 * width rounded up to a multiple of 4.
inline int64_t DibStride(int64_t width) { return (width * 3 + 3) & ~int64_t(3); }

Handle LoadFile(const char* path);               // decodes a file; 0 on failure
int Prepare(Handle image);                       // to a 24-bit DIB (alpha onto white); nonzero on success
const ImageInfo* Info(Handle image);             // null for an unknown handle
Handle Duplicate(Handle image);                  // independent copy, same size and layout; 0 on failure
uint32_t ReadPixel(Handle image, int32_t x, int32_t y);  // 0x00BBGGRR (COLORREF), y from the top; 0 outside
void Resize(Handle image, int32_t width, int32_t height);  // in place; -1 = follows the aspect ratio
// Writes frames[0..count) as a looping GIF, delayCs hundredths of a second per frame.
// Written to a temporary file beside `path` and renamed over it only when complete. Nonzero on success.
int WriteAnimatedGif(const char* path, const Handle* frames, int32_t count, int32_t delayCs);
void Release(Handle image);

}  // namespace imaging

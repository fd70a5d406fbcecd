// The seam between the image library and the platform's picture decoder: one file in, 8-bit
// rows out (gdk-pixbuf on Linux in decode_pixbuf.cpp, WIC on Windows in decode_wic.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace imaging::detail {

// Byte order of one decoded pixel.
enum class PixelOrder { Rgb, Rgba, Bgra };

// A decoded picture as the platform delivered it, rows top first, before orientation.
struct DecodedImage {
    int32_t width = 0;          // as stored in the file, before the orientation is applied
    int32_t height = 0;
    PixelOrder order = PixelOrder::Rgb;
    ptrdiff_t rowStride = 0;    // bytes from one row to the next one down
    const uint8_t* rows = nullptr;
    int orientation = 1;        // EXIF orientation 1..8: how the stored picture must be turned
    void* owner = nullptr;      // what holds the rows, handed to release
    void (*release)(void* owner) = nullptr;
};

// Decodes the first picture of a file. Before any pixel is decoded, the size the file's header
// claims goes through AcceptSize; a refused size, an unreadable, unknown, damaged or truncated
// file, a decoder past its time limit, or a lack of memory all give false, with the reason in
// LastFailure(), and hold nothing.
bool DecodeFile(const char* path, DecodedImage* out);

// DecodeFile for a file already open for reading (at any position) of `fileBytes` bytes; the
// file stays open.
bool DecodeOpenFile(std::FILE* file, uint64_t fileBytes, DecodedImage* out);

// Where a decoder that writes its rows itself puts them: the heap when it runs in this process,
// memory shared with the parent when it runs in a child. `take` is called at most once and gives
// null when the memory cannot be had; `release` gives the rows back (in this process).
struct RowMemory {
    uint8_t* (*take)(void* context, size_t bytes);
    void (*release)(void* owner);
    void* context;
};

// Rows on the heap: take is malloc, release free.
RowMemory HeapRows();

// Linux decodes in a child process (decode_child_posix.cpp); the fuzz target decodes in its own
// process instead, so that its sanitizers and coverage see the decoding code. No time limit
// holds there. Windows always decodes in its own process.
void DecodeInThisProcess(bool inThisProcess);

// Gives back what DecodeFile holds and empties the record; harmless on an empty record.
void ReleaseDecoded(DecodedImage* image);

// Width and height of the picture after an EXIF orientation (5 to 8 swap the sides).
int32_t OrientedWidth(const DecodedImage& image);
int32_t OrientedHeight(const DecodedImage& image);

}  // namespace imaging::detail

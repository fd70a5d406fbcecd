// The seam between the image library and the platform's picture decoder: one file in, 8-bit
// rows out (gdk-pixbuf on Linux in decode_pixbuf.cpp, WIC on Windows in decode_wic.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

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
    bool premultiplied = false; // colours were multiplied by alpha (gdk-pixbuf's TIFF loader does)
    void* owner = nullptr;      // what holds the rows, handed to release
    void (*release)(void* owner) = nullptr;
};

// Decodes the first picture of a file. Before any pixel is decoded, the size the file's header
// claims goes through SizeAcceptable with the file's length; a refused size, an unreadable,
// unknown, damaged or truncated file, or a lack of memory all give false and hold nothing.
bool DecodeFile(const char* path, DecodedImage* out);

// Gives back what DecodeFile holds and empties the record; harmless on an empty record.
void ReleaseDecoded(DecodedImage* image);

// Width and height of the picture after an EXIF orientation (5 to 8 swap the sides).
int32_t OrientedWidth(const DecodedImage& image);
int32_t OrientedHeight(const DecodedImage& image);

}  // namespace imaging::detail

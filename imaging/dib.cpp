// 24-bit bottom-up DIB pixel arrays: allocation, and conversion from a decoded picture.
#include "imaging/dib.h"

#include <cstdlib>

#include "imaging/geometry.h"
#include "imaging/imaging.h"

namespace imaging::detail {

uint8_t* AllocateDib(int32_t width, int32_t height) {
    if (!DibSizeAcceptable(width, height)) return nullptr;
    return static_cast<uint8_t*>(std::calloc(size_t(DibStride(width) * height), 1));
}

void FreeDib(uint8_t* pixels) { std::free(pixels); }

namespace {

// Where upright pixel (0, 0) lies in the stored rows, and how far in bytes one step right and
// one step down in the upright picture move in the stored rows.
struct Walk {
    const uint8_t* origin;
    ptrdiff_t right;
    ptrdiff_t down;
};

Walk OrientationWalk(const DecodedImage& image, ptrdiff_t pixelBytes) {
    const ptrdiff_t row = image.rowStride;
    const ptrdiff_t lastColumn = ptrdiff_t(image.width - 1) * pixelBytes;
    const ptrdiff_t lastRow = ptrdiff_t(image.height - 1) * row;
    const uint8_t* rows = image.rows;
    switch (image.orientation) {
        case 2: return {rows + lastColumn, -pixelBytes, row};                 // mirrored left-right
        case 3: return {rows + lastRow + lastColumn, -pixelBytes, -row};      // turned half round
        case 4: return {rows + lastRow, pixelBytes, -row};                    // mirrored top-bottom
        case 5: return {rows, row, pixelBytes};                               // transposed
        case 6: return {rows + lastRow, -row, pixelBytes};                    // needs a quarter turn clockwise
        case 7: return {rows + lastRow + lastColumn, -row, -pixelBytes};      // transversed
        case 8: return {rows + lastColumn, row, -pixelBytes};                 // needs a quarter turn anticlockwise
        default: return {rows, pixelBytes, row};                              // upright
    }
}

uint8_t OntoWhite(unsigned colour, unsigned alpha) {
    return uint8_t((colour * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// R, G, B, A: byte positions of the channels in one decoded pixel (A < 0: opaque).
template <int R, int G, int B, int A, int PixelBytes>
void ConvertRows(const DecodedImage& image, uint8_t* dib) {
    const Walk walk = OrientationWalk(image, PixelBytes);
    const int32_t width = OrientedWidth(image);
    const int32_t height = OrientedHeight(image);
    const ptrdiff_t stride = ptrdiff_t(DibStride(width));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = walk.origin + walk.down * y;
        uint8_t* out = dib + stride * (height - 1 - y);
        for (int32_t x = 0; x < width; ++x, in += walk.right, out += 3) {
            if constexpr (A < 0) {
                out[0] = in[B];
                out[1] = in[G];
                out[2] = in[R];
            } else {
                const unsigned alpha = in[A];
                out[0] = OntoWhite(in[B], alpha);
                out[1] = OntoWhite(in[G], alpha);
                out[2] = OntoWhite(in[R], alpha);
            }
        }
    }
}

}  // namespace

void ConvertToDib(const DecodedImage& image, uint8_t* dib) {
    switch (image.order) {
        case PixelOrder::Rgb: ConvertRows<0, 1, 2, -1, 3>(image, dib); break;
        case PixelOrder::Rgba: ConvertRows<0, 1, 2, 3, 4>(image, dib); break;
        case PixelOrder::Bgra: ConvertRows<2, 1, 0, 3, 4>(image, dib); break;
    }
}

}  // namespace imaging::detail

// 24-bit bottom-up DIB pixel arrays: allocation, and conversion from a decoded picture, its
// transparent pixels keyed (see transparency.h).
#include "imaging/dib.h"

#include <cstdlib>

#include "imaging/geometry.h"
#include "imaging/imaging.h"
#include "imaging/transparency.h"

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

// The key of a picture whose pixels are R, G, B, A bytes apart, PixelBytes each: kNoKey when no
// pixel is transparent, otherwise a colour none of its opaque pixels has.
template <int R, int G, int B, int A, int PixelBytes>
int32_t KeyOfPixels(const DecodedImage& image) {
    if constexpr (A < 0) {
        return kNoKey;
    } else {
        bool anyTransparent = false;
        for (int32_t y = 0; y < image.height && !anyTransparent; ++y) {
            const uint8_t* in = image.rows + image.rowStride * y;
            for (int32_t x = 0; x < image.width; ++x, in += PixelBytes) anyTransparent |= in[A] < kOpaqueAlpha;
        }
        if (!anyTransparent) return kNoKey;
        ColoursInUse colours;
        StartColoursInUse(&colours);
        for (int32_t y = 0; y < image.height && !colours.bits.empty(); ++y) {
            const uint8_t* in = image.rows + image.rowStride * y;
            for (int32_t x = 0; x < image.width; ++x, in += PixelBytes) {
                if (in[A] >= kOpaqueAlpha) NoteColour(&colours, PackedColour(in[R], in[G], in[B]));
            }
        }
        return ChooseKey(colours);
    }
}

// R, G, B, A: byte positions of the channels in one decoded pixel (A < 0: opaque). Opaque
// pixels keep their own colour, transparent ones take the key (see transparency.h).
template <int R, int G, int B, int A, int PixelBytes>
int32_t ConvertRows(const DecodedImage& image, uint8_t* dib) {
    const int32_t key = KeyOfPixels<R, G, B, A, PixelBytes>(image);
    const Walk walk = OrientationWalk(image, PixelBytes);
    const int32_t width = OrientedWidth(image);
    const int32_t height = OrientedHeight(image);
    const ptrdiff_t stride = ptrdiff_t(DibStride(width));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = walk.origin + walk.down * y;
        uint8_t* out = dib + stride * (height - 1 - y);
        for (int32_t x = 0; x < width; ++x, in += walk.right, out += 3) {
            out[0] = in[B];
            out[1] = in[G];
            out[2] = in[R];
            if constexpr (A >= 0) {
                if (in[A] < kOpaqueAlpha) {
                    StoreKey(out, key);
                } else {
                    MoveOffKey(out, key);
                }
            }
        }
    }
    return key;
}

}  // namespace

int32_t ConvertToDib(const DecodedImage& image, uint8_t* dib) {
    switch (image.order) {
        case PixelOrder::Rgba: return ConvertRows<0, 1, 2, 3, 4>(image, dib);
        case PixelOrder::Bgra: return ConvertRows<2, 1, 0, 3, 4>(image, dib);
        case PixelOrder::Rgb: break;
    }
    return ConvertRows<0, 1, 2, -1, 3>(image, dib);
}

}  // namespace imaging::detail

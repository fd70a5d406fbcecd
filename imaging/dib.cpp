// 24-bit bottom-up DIB pixel arrays: allocation, and conversion from a decoded picture, its
// transparent pixels keyed (see transparency.h).
#include "imaging/dib.h"

#include <algorithm>
#include <cstdlib>

#include "imaging/geometry.h"
#include "imaging/imaging.h"
#include "imaging/parallel.h"
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

// One conversion of decoded rows into a DIB, in bands of rows that are independent of one
// another, so that they are converted on all cores.
struct RowConversion {
    const DecodedImage* image;
    uint8_t* dib;
    int32_t key;
    Walk walk;
    int32_t width, height;
    ptrdiff_t stride;
};

constexpr int kBands = 16;

// R, G, B, A: byte positions of the channels in one decoded pixel (A < 0: opaque). Opaque
// pixels keep their own colour, transparent ones take the key (see transparency.h).
template <int R, int G, int B, int A, int PixelBytes>
void ConvertBand(void* context, int band) {
    const RowConversion& c = *static_cast<const RowConversion*>(context);
    const int32_t rowsPerBand = (c.height + kBands - 1) / kBands;
    const int32_t end = std::min(c.height, (band + 1) * rowsPerBand);
    for (int32_t y = band * rowsPerBand; y < end; ++y) {
        const uint8_t* in = c.walk.origin + c.walk.down * y;
        uint8_t* out = c.dib + c.stride * (c.height - 1 - y);
        for (int32_t x = 0; x < c.width; ++x, in += c.walk.right, out += 3) {
            out[0] = in[B];
            out[1] = in[G];
            out[2] = in[R];
            if constexpr (A >= 0) {
                if (in[A] < kOpaqueAlpha) {
                    StoreKey(out, c.key);
                } else {
                    MoveOffKey(out, c.key);
                }
            }
        }
    }
}

template <int R, int G, int B, int A, int PixelBytes>
int32_t ConvertRows(const DecodedImage& image, uint8_t* dib) {
    const int32_t width = OrientedWidth(image);
    RowConversion conversion{&image,
                             dib,
                             KeyOfPixels<R, G, B, A, PixelBytes>(image),
                             OrientationWalk(image, PixelBytes),
                             width,
                             OrientedHeight(image),
                             ptrdiff_t(DibStride(width))};
    RunInParallel(kBands, ConvertBand<R, G, B, A, PixelBytes>, &conversion);
    return conversion.key;
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

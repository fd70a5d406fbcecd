// Resampling of 24-bit DIB pixel arrays: large reductions first average whole blocks in linear
// light, then stb_image_resize (compiled only here) filters down to the exact size. A picture
// with a transparent key is resampled as colour and alpha: transparent pixels weigh nothing in
// the colour of their neighbours, and the smaller picture's transparency is cut anew.
#include "imaging/resize.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb/stb_image_resize.h>

#include "imaging/dib.h"
#include "imaging/imaging.h"
#include "imaging/parallel.h"
#include "imaging/transparency.h"

namespace imaging::detail {

namespace {

// The filtered resample costs tens of nanoseconds per source pixel; averaging blocks first
// leaves it at least this many source pixels per output pixel on each axis, enough for its filter.
const int32_t kFilterSpan = 2;
const int32_t kMaxBlock = 64;  // keeps the block sums of 16-bit linear values within 32 bits

struct LinearTables {
    uint16_t toLinear[256];
    uint8_t toSrgb[65536];
};

const LinearTables& Tables() {
    static const LinearTables tables = [] {
        LinearTables t;
        for (int v = 0; v < 256; ++v) {
            double c = v / 255.0;
            double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            t.toLinear[v] = uint16_t(std::lround(linear * 65535.0));
        }
        for (int v = 0; v < 65536; ++v) {
            double linear = v / 65535.0;
            double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            t.toSrgb[v] = uint8_t(std::lround(c * 255.0));
        }
        return t;
    }();
    return tables;
}

// The side of the blocks averaged before the filter: large enough to spare the filter most of
// its work, small enough to leave it kFilterSpan source pixels per output pixel.
int32_t BlockFor(int32_t width, int32_t height, int32_t newWidth, int32_t newHeight) {
    return std::min({width / (newWidth * kFilterSpan), height / (newHeight * kFilterSpan), kMaxBlock});
}

// ---- Reductions by whole blocks: every row of blocks is independent of the others, so the rows
// are spread over the cores in bands, each band with its own running sums.

constexpr int kBands = 16;

struct BlockShrink {
    const uint8_t* dib;
    int32_t width, height, block;
    int32_t key;  // the transparent key, or kNoKey
    int32_t shrunkWidth, shrunkHeight;
    uint8_t* out;                             // the shrunk picture
    std::vector<std::vector<uint32_t>> sums;  // per band: four sums per block of the row
    void (*row)(const BlockShrink& shrink, int32_t blockRow, uint32_t* sums);
};

void ShrinkBand(void* context, int band) {
    BlockShrink& shrink = *static_cast<BlockShrink*>(context);
    const int32_t rowsPerBand = (shrink.shrunkHeight + kBands - 1) / kBands;
    const int32_t end = std::min(shrink.shrunkHeight, (band + 1) * rowsPerBand);
    for (int32_t by = band * rowsPerBand; by < end; ++by) shrink.row(shrink, by, shrink.sums[size_t(band)].data());
}

// Runs shrink.row for every row of blocks; false when memory for the sums runs out.
bool ShrinkAllRows(BlockShrink* shrink) {
    try {
        shrink->sums.assign(kBands, std::vector<uint32_t>(size_t(shrink->shrunkWidth) * 4));
    } catch (const std::bad_alloc&) {
        return false;
    }
    RunInParallel(kBands, ShrinkBand, shrink);
    return true;
}

// Pixels [first, first + rows) of block row `by`, block column `bx`: how many the block holds.
uint32_t BlockPixels(const BlockShrink& s, int32_t rows, int32_t bx) {
    return uint32_t(rows) * uint32_t(std::min(s.block, s.width - bx * s.block));
}

// Averages block x block squares of pixels in linear light; the last column and row of blocks
// take what is left.
void ShrinkPlainRow(const BlockShrink& s, int32_t by, uint32_t* sums) {
    const LinearTables& t = Tables();
    const int64_t stride = DibStride(s.width), outStride = DibStride(s.shrunkWidth);
    const int32_t firstRow = by * s.block, rows = std::min(s.block, s.height - firstRow);
    std::fill(sums, sums + size_t(s.shrunkWidth) * 3, 0u);
    for (int32_t y = firstRow; y < firstRow + rows; ++y) {
        const uint8_t* in = s.dib + stride * y;
        for (int32_t bx = 0; bx < s.shrunkWidth; ++bx) {
            uint32_t* sum = &sums[size_t(bx) * 3];
            const uint8_t* end = in + 3 * std::min(s.block, s.width - bx * s.block);
            for (; in != end; in += 3) {
                sum[0] += t.toLinear[in[0]];
                sum[1] += t.toLinear[in[1]];
                sum[2] += t.toLinear[in[2]];
            }
        }
    }
    uint8_t* row = s.out + outStride * by;
    for (int32_t bx = 0; bx < s.shrunkWidth; ++bx) {
        const uint32_t count = BlockPixels(s, rows, bx);
        for (int c = 0; c < 3; ++c) row[3 * bx + c] = t.toSrgb[(sums[size_t(bx) * 3 + c] + count / 2) / count];
    }
}

// The shrunk picture as a DIB, or null when memory runs out.
uint8_t* ShrinkByBlocks(const uint8_t* pixels, int32_t width, int32_t height, int32_t block, int32_t* outWidth,
                        int32_t* outHeight) {
    BlockShrink shrink{pixels, width, height, block, kNoKey, (width + block - 1) / block, (height + block - 1) / block,
                       nullptr, {}, ShrinkPlainRow};
    shrink.out = AllocateDib(shrink.shrunkWidth, shrink.shrunkHeight);
    if (shrink.out == nullptr) return nullptr;
    if (!ShrinkAllRows(&shrink)) {
        FreeDib(shrink.out);
        return nullptr;
    }
    *outWidth = shrink.shrunkWidth;
    *outHeight = shrink.shrunkHeight;
    return shrink.out;
}

// ---- Pictures with a transparent key, resampled as 4-byte pixels: blue, green, red, alpha.

constexpr int kKeyedChannels = 4;

// Bytes of a width x height buffer of 4-byte pixels, or 0 when it cannot be addressed.
size_t KeyedBytes(int32_t width, int32_t height) {
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * kKeyedChannels;
    return bytes <= SIZE_MAX ? size_t(bytes) : 0;
}

// The DIB as 4-byte pixels, rows bottom-up as stored: the key becomes alpha 0 (and black, which
// the alpha weighting then ignores), every other pixel alpha 255.
std::vector<uint8_t> KeyedPixels(const uint8_t* dib, int32_t width, int32_t height, int32_t key) {
    std::vector<uint8_t> out(KeyedBytes(width, height));
    const int64_t stride = DibStride(width);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = dib + stride * y;
        uint8_t* px = out.data() + size_t(y) * size_t(width) * kKeyedChannels;
        for (int32_t x = 0; x < width; ++x, in += 3, px += kKeyedChannels) {
            const bool transparent = IsKey(in, key);
            px[0] = transparent ? 0 : in[0];
            px[1] = transparent ? 0 : in[1];
            px[2] = transparent ? 0 : in[2];
            px[3] = transparent ? 0 : 255;
        }
    }
    return out;
}

// Averages block x block squares in linear light over their opaque pixels only, with alpha the
// share of opaque pixels: 4-byte pixels of the shrunk picture.
void ShrinkKeyedRow(const BlockShrink& s, int32_t by, uint32_t* sums) {  // blue, green, red, opaque count
    const LinearTables& t = Tables();
    const int64_t stride = DibStride(s.width);
    const int32_t firstRow = by * s.block, rows = std::min(s.block, s.height - firstRow);
    std::fill(sums, sums + size_t(s.shrunkWidth) * kKeyedChannels, 0u);
    for (int32_t y = firstRow; y < firstRow + rows; ++y) {
        const uint8_t* in = s.dib + stride * y;
        for (int32_t x = 0; x < s.width; ++x, in += 3) {
            if (IsKey(in, s.key)) continue;
            uint32_t* sum = &sums[size_t(x / s.block) * kKeyedChannels];
            sum[0] += t.toLinear[in[0]];
            sum[1] += t.toLinear[in[1]];
            sum[2] += t.toLinear[in[2]];
            sum[3] += 1;
        }
    }
    uint8_t* row = s.out + size_t(by) * size_t(s.shrunkWidth) * kKeyedChannels;
    for (int32_t bx = 0; bx < s.shrunkWidth; ++bx, row += kKeyedChannels) {
        const uint32_t* sum = &sums[size_t(bx) * kKeyedChannels];
        const uint32_t count = BlockPixels(s, rows, bx), opaque = sum[3];
        for (int c = 0; c < 3; ++c) row[c] = opaque ? t.toSrgb[(sum[c] + opaque / 2) / opaque] : 0;
        row[3] = uint8_t((opaque * 255 + count / 2) / count);
    }
}

std::vector<uint8_t> ShrinkKeyedByBlocks(const uint8_t* dib, int32_t width, int32_t height, int32_t block, int32_t key,
                                         int32_t* outWidth, int32_t* outHeight) {
    BlockShrink shrink{dib, width, height, block, key, (width + block - 1) / block, (height + block - 1) / block,
                       nullptr, {}, ShrinkKeyedRow};
    std::vector<uint8_t> out(KeyedBytes(shrink.shrunkWidth, shrink.shrunkHeight));
    shrink.out = out.data();
    if (!ShrinkAllRows(&shrink)) throw std::bad_alloc();
    *outWidth = shrink.shrunkWidth;
    *outHeight = shrink.shrunkHeight;
    return out;
}

// Back to a DIB: a pixel at least half opaque shows its colour (kept off the key), the others
// are the key again.
uint8_t* KeyedToDib(const std::vector<uint8_t>& pixels, int32_t width, int32_t height, int32_t key) {
    uint8_t* dib = AllocateDib(width, height);
    if (dib == nullptr) return nullptr;
    const int64_t stride = DibStride(width);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* px = pixels.data() + size_t(y) * size_t(width) * kKeyedChannels;
        uint8_t* out = dib + stride * y;
        for (int32_t x = 0; x < width; ++x, px += kKeyedChannels, out += 3) {
            out[0] = px[0];
            out[1] = px[1];
            out[2] = px[2];
            if (px[3] < kOpaqueAlpha) {
                StoreKey(out, key);
            } else {
                MoveOffKey(out, key);
            }
        }
    }
    return dib;
}

uint8_t* ResampleKeyed(const uint8_t* dib, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight,
                       int32_t key) {
    if (KeyedBytes(width, height) == 0 || KeyedBytes(newWidth, newHeight) == 0) return nullptr;
    try {
        const int32_t block = BlockFor(width, height, newWidth, newHeight);
        int32_t inWidth = width, inHeight = height;
        const std::vector<uint8_t> in = block >= 2 ? ShrinkKeyedByBlocks(dib, width, height, block, key, &inWidth, &inHeight)
                                                   : KeyedPixels(dib, width, height, key);
        std::vector<uint8_t> out(KeyedBytes(newWidth, newHeight));
        // The colours are weighted by alpha, so no transparent pixel lends its colour to an edge.
        if (!stbir_resize_uint8_srgb(in.data(), inWidth, inHeight, inWidth * kKeyedChannels, out.data(), newWidth,
                                     newHeight, newWidth * kKeyedChannels, kKeyedChannels, 3, 0)) {
            return nullptr;
        }
        return KeyedToDib(out, newWidth, newHeight, key);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

uint8_t* FilteredResample(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight) {
    uint8_t* out = AllocateDib(newWidth, newHeight);
    if (out == nullptr) return nullptr;
    // Rows are bottom-up on both sides, so the order needs no care; sRGB-aware filtering keeps
    // fine light-dark detail from darkening when it is averaged away.
    const int ok = stbir_resize_uint8_srgb(pixels, width, height, int(DibStride(width)), out,
                                           newWidth, newHeight, int(DibStride(newWidth)), 3,
                                           STBIR_ALPHA_CHANNEL_NONE, 0);
    if (!ok) {
        FreeDib(out);
        return nullptr;
    }
    return out;
}

}  // namespace

uint8_t* ResampleDib(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight,
                     int32_t transparentKey) {
    if (transparentKey >= 0) return ResampleKeyed(pixels, width, height, newWidth, newHeight, transparentKey);
    const int32_t block = BlockFor(width, height, newWidth, newHeight);
    if (block < 2) return FilteredResample(pixels, width, height, newWidth, newHeight);
    int32_t shrunkWidth = 0, shrunkHeight = 0;
    uint8_t* shrunk = ShrinkByBlocks(pixels, width, height, block, &shrunkWidth, &shrunkHeight);
    if (shrunk == nullptr) return nullptr;
    uint8_t* out = FilteredResample(shrunk, shrunkWidth, shrunkHeight, newWidth, newHeight);
    FreeDib(shrunk);
    return out;
}

}  // namespace imaging::detail

// Resampling of 24-bit DIB pixel arrays: large reductions first average whole blocks in linear
// light, then stb_image_resize (compiled only here) filters down to the exact size.
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

// Averages block x block squares of pixels in linear light; the last column and row of blocks
// take what is left. Returns null when memory runs out.
uint8_t* ShrinkByBlocks(const uint8_t* pixels, int32_t width, int32_t height, int32_t block, int32_t* outWidth,
                        int32_t* outHeight) {
    const int32_t shrunkWidth = (width + block - 1) / block;
    const int32_t shrunkHeight = (height + block - 1) / block;
    uint8_t* out = AllocateDib(shrunkWidth, shrunkHeight);
    if (out == nullptr) return nullptr;
    std::vector<uint32_t> sums;
    try {
        sums.resize(size_t(shrunkWidth) * 3);
    } catch (const std::bad_alloc&) {
        FreeDib(out);
        return nullptr;
    }
    const LinearTables& t = Tables();
    const int64_t stride = DibStride(width), outStride = DibStride(shrunkWidth);
    for (int32_t by = 0; by < shrunkHeight; ++by) {
        const int32_t firstRow = by * block, rows = std::min(block, height - firstRow);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int32_t y = firstRow; y < firstRow + rows; ++y) {
            const uint8_t* in = pixels + stride * y;
            for (int32_t bx = 0; bx < shrunkWidth; ++bx) {
                uint32_t* sum = &sums[size_t(bx) * 3];
                const uint8_t* end = in + 3 * std::min(block, width - bx * block);
                for (; in != end; in += 3) {
                    sum[0] += t.toLinear[in[0]];
                    sum[1] += t.toLinear[in[1]];
                    sum[2] += t.toLinear[in[2]];
                }
            }
        }
        uint8_t* row = out + outStride * by;
        for (int32_t bx = 0; bx < shrunkWidth; ++bx) {
            const uint32_t count = uint32_t(rows) * uint32_t(std::min(block, width - bx * block));
            for (int c = 0; c < 3; ++c) row[3 * bx + c] = t.toSrgb[(sums[size_t(bx) * 3 + c] + count / 2) / count];
        }
    }
    *outWidth = shrunkWidth;
    *outHeight = shrunkHeight;
    return out;
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

uint8_t* ResampleDib(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth,
                     int32_t newHeight) {
    const int32_t block = std::min({width / (newWidth * kFilterSpan), height / (newHeight * kFilterSpan), kMaxBlock});
    if (block < 2) return FilteredResample(pixels, width, height, newWidth, newHeight);
    int32_t shrunkWidth = 0, shrunkHeight = 0;
    uint8_t* shrunk = ShrinkByBlocks(pixels, width, height, block, &shrunkWidth, &shrunkHeight);
    if (shrunk == nullptr) return nullptr;
    uint8_t* out = FilteredResample(shrunk, shrunkWidth, shrunkHeight, newWidth, newHeight);
    FreeDib(shrunk);
    return out;
}

}  // namespace imaging::detail

// The reference warp, written for clarity rather than speed.
#include "tests/support/reference_warp.h"

namespace {

int64_t Product(int32_t a, int32_t b) { return static_cast<int64_t>(a) * b; }

// a + (i * (b - a)) / n, the division truncating toward zero.
int32_t Between(int32_t a, int32_t b, int32_t i, int32_t n) { return int32_t(a + Product(i, b - a) / n); }

}  // namespace

std::vector<uint8_t> ReferenceWarp(PixelReader readPixel, const ShakeMesh& mesh, ImageHandle source, int32_t width,
                                   int32_t height, std::vector<uint8_t> pixels) {
    const int64_t stride = imaging::DibStride(width);
    for (int j = 0; j < 16; ++j) {
        for (int k = 0; k < 16; ++k) {
            const int32_t h = mesh.regularY[k][j + 1] - mesh.regularY[k][j];
            const int32_t w = mesh.regularX[k + 1][j] - mesh.regularX[k][j];
            for (int32_t i = 0; i < h; ++i) {
                const int32_t lx = Between(mesh.jitteredX[k][j], mesh.jitteredX[k][j + 1], i, h);
                const int32_t ly = Between(mesh.jitteredY[k][j], mesh.jitteredY[k][j + 1], i, h);
                const int32_t rx = Between(mesh.jitteredX[k + 1][j], mesh.jitteredX[k + 1][j + 1], i, h);
                const int32_t ry = Between(mesh.jitteredY[k + 1][j], mesh.jitteredY[k + 1][j + 1], i, h);
                uint8_t* out = pixels.data() + stride * (height - 1 - (mesh.regularY[k][j] + i)) + 3 * mesh.regularX[k][j];
                for (int32_t c = 0; c < w; ++c, out += 3) {
                    const uint32_t colour = readPixel(source, Between(lx, rx, c, w), Between(ly, ry, c, w));
                    out[0] = static_cast<uint8_t>(colour >> 16);
                    out[1] = static_cast<uint8_t>(colour >> 8);
                    out[2] = static_cast<uint8_t>(colour);
                }
            }
        }
    }
    return pixels;
}

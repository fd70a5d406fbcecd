// The shake warp: the process-wide random sequence, the shake amounts, the jittered mesh and the
// frame redraw. Arithmetic is 32-bit two's complement that wraps, computed through unsigned values
// so that wrapping is defined, and the order of operations is part of each formula; the products
// that place pixels (grid lines, interpolation) are 64-bit, so no picture size can make them wrap
// and draw outside the frame or sample outside the source.
#include "convert/shake_warp.h"

#include <cstddef>

#include "imaging/parallel.h"

uint32_t randomSequenceState = 1;

static int32_t WrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
static int32_t WrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
static int32_t WrapMul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

int32_t NextRandomValue() {
    randomSequenceState = randomSequenceState * 214013u + 2531011u;
    return static_cast<int32_t>((randomSequenceState >> 16) & 0x7FFF);
}

int32_t RandomBelow(int32_t n) { return WrapMul(NextRandomValue(), n) / 32768; }

static int32_t ShakeAmount(int32_t side, int32_t shakePercent) {
    int32_t amount = WrapMul(side / 16, shakePercent) / 100;
    return amount == 0 ? 1 : amount;
}

ShakeAmounts ComputeShakeAmounts(int32_t width, int32_t height, int32_t shakePercent) {
    return ShakeAmounts{ShakeAmount(width, shakePercent), ShakeAmount(height, shakePercent)};
}

// A regular coordinate moved by RandomBelow(amount) - (amount >> 1), kept inside 0 .. side - 1.
static int32_t Jitter(int32_t regular, int32_t amount, int32_t side) {
    int32_t v = WrapSub(WrapAdd(RandomBelow(amount), regular), amount >> 1);
    if (v < 0) return 0;
    if (v >= side) return side - 1;
    return v;
}

void BuildShakeMesh(ShakeMesh* mesh, int32_t width, int32_t height, int32_t amountX, int32_t amountY) {
    // Row by row from the top, left to right, the horizontal draw before the vertical one:
    // the order in which the sequence is consumed decides every frame.
    for (int j = 0; j < kMeshPoints; ++j) {
        for (int k = 0; k < kMeshPoints; ++k) {
            int32_t x = static_cast<int32_t>(static_cast<int64_t>(width) * k / 16);
            mesh->regularX[k][j] = x;
            mesh->jitteredX[k][j] = (k >= 1 && k <= 15) ? Jitter(x, amountX, width) : x;
            int32_t y = static_cast<int32_t>(static_cast<int64_t>(height) * j / 16);
            mesh->regularY[k][j] = y;
            mesh->jitteredY[k][j] = (j >= 1 && j <= 15) ? Jitter(y, amountY, height) : y;
        }
    }
}

struct MeshPoint {
    int32_t x;
    int32_t y;
};

static MeshPoint JitteredPoint(const ShakeMesh* mesh, int k, int j) {
    return MeshPoint{mesh->jitteredX[k][j], mesh->jitteredY[k][j]};
}

// c * step / divisor, truncated toward zero, for c = 0, 1, 2 ... in turn: the quotient and the
// remainder of the magnitude are carried from one c to the next, so no pixel needs a product or
// a division, and nothing can overflow (the value never exceeds |step|).
struct TruncatedSteps {
    int32_t value;          // for the current c
    int32_t remainder;      // of |c * step| by the divisor
    int32_t wholeStep;      // |step| / divisor, with the sign of step
    int32_t remainderStep;  // |step| % divisor
    int32_t sign;           // +1 or -1, the sign of step
    int32_t divisor;
};

static TruncatedSteps StartSteps(int32_t step, int32_t divisor) {
    const int32_t sign = step < 0 ? -1 : 1;
    const int32_t magnitude = step < 0 ? -step : step;
    return TruncatedSteps{0, 0, sign * (magnitude / divisor), magnitude % divisor, sign, divisor};
}

static void NextStep(TruncatedSteps* s) {
    s->value += s->wholeStep;
    s->remainder += s->remainderStep;
    if (s->remainder >= s->divisor) {
        s->remainder -= s->divisor;
        s->value += s->sign;
    }
}

// A DIB as the warp addresses it: rows are stored bottom-up, so picture row y (counted from the
// top) starts at topRow - y * stride.
struct DibRows {
    uint8_t* topRow;
    ptrdiff_t stride;
};

static DibRows RowsOf(const ImageInfo* info, int32_t width, int32_t height) {
    const ptrdiff_t stride = static_cast<ptrdiff_t>(imaging::DibStride(width));
    return DibRows{info->pixels + stride * (height - 1), stride};
}

static uint8_t* PixelAt(DibRows rows, int32_t x, int32_t y) {
    return rows.topRow - rows.stride * y + 3 * static_cast<ptrdiff_t>(x);
}

// One row of a cell: `width` pixels sampled evenly from `left` towards `right`, sample c at
// L + (c * (R - L)) / width on each axis. Each takes its colour from one read of the source's
// pixel array, with no call and no check: every sample lies inside the source.
static void WarpRow(DibRows source, MeshPoint left, MeshPoint right, int32_t width, uint8_t* out) {
    // Both ends lie inside the picture, so their differences fit in 32 bits.
    TruncatedSteps x = StartSteps(right.x - left.x, width);
    TruncatedSteps y = StartSteps(right.y - left.y, width);
    for (int32_t c = 0; c < width; ++c, out += 3) {
        const uint8_t* sample = PixelAt(source, left.x + x.value, left.y + y.value);
        out[0] = sample[0];  // blue
        out[1] = sample[1];  // green
        out[2] = sample[2];  // red
        NextStep(&x);
        NextStep(&y);
    }
}

// Fills the regular rectangle of cell (k, j) from the source quadrilateral of its jittered corners.
static void WarpCell(const ShakeMesh* mesh, int k, int j, DibRows source, DibRows frame) {
    const int32_t cellHeight = WrapSub(mesh->regularY[k][j + 1], mesh->regularY[k][j]);
    if (cellHeight <= 0) return;
    const int32_t cellWidth = WrapSub(mesh->regularX[k + 1][j], mesh->regularX[k][j]);
    const int32_t x0 = mesh->regularX[k][j];
    const int32_t y0 = mesh->regularY[k][j];
    const MeshPoint topLeft = JitteredPoint(mesh, k, j);
    const MeshPoint bottomLeft = JitteredPoint(mesh, k, j + 1);
    const MeshPoint topRight = JitteredPoint(mesh, k + 1, j);
    const MeshPoint bottomRight = JitteredPoint(mesh, k + 1, j + 1);
    const int64_t leftStepX = bottomLeft.x - topLeft.x, leftStepY = bottomLeft.y - topLeft.y;
    const int64_t rightStepX = bottomRight.x - topRight.x, rightStepY = bottomRight.y - topRight.y;
    for (int32_t i = 0; i < cellHeight; ++i) {
        // i * (difference) / cellHeight for the left and the right edge of the quadrilateral.
        MeshPoint left{topLeft.x + static_cast<int32_t>(leftStepX * i / cellHeight),
                       topLeft.y + static_cast<int32_t>(leftStepY * i / cellHeight)};
        MeshPoint right{topRight.x + static_cast<int32_t>(rightStepX * i / cellHeight),
                        topRight.y + static_cast<int32_t>(rightStepY * i / cellHeight)};
        if (cellWidth > 0) WarpRow(source, left, right, cellWidth, PixelAt(frame, x0, y0 + i));
    }
}

struct FrameWarp {
    const ShakeMesh* mesh;
    DibRows source;
    DibRows frame;
};

// One row of cells: it writes only its own rows of the frame, so the rows of cells are drawn on
// all cores at once, with the same result as one after another.
static void WarpCellRow(void* context, int j) {
    const FrameWarp* warp = static_cast<const FrameWarp*>(context);
    for (int k = 0; k < 16; ++k) WarpCell(warp->mesh, k, j, warp->source, warp->frame);
}

void WarpFrame(const ImageOperations& images, const ShakeMesh* mesh, ImageHandle source, int32_t width, int32_t height,
               ImageHandle copy) {
    const DibRows frame = RowsOf(images.info(copy), width, height);
    FrameWarp warp{mesh, RowsOf(images.info(source), width, height), frame};
    imaging::RunInParallel(16, WarpCellRow, &warp);
}

// The shake warp: the process-wide random sequence, the shake amounts, the jittered 17 x 17 mesh
// and the redrawing of one frame through it.
#pragma once

#include <cstdint>

#include "convert/image_operations.h"

constexpr int kMeshPoints = 17;  // control points per side; 16 x 16 cells

// Indexed [k][j]: k the column of the control point (0 = left edge), j its row (0 = top edge).
struct ShakeMesh {
    int32_t regularX[kMeshPoints][kMeshPoints];
    int32_t regularY[kMeshPoints][kMeshPoints];
    int32_t jitteredX[kMeshPoints][kMeshPoints];
    int32_t jitteredY[kMeshPoints][kMeshPoints];
};

struct ShakeAmounts {
    int32_t horizontal;
    int32_t vertical;
};

// The sequence's state: 1 at launch, never reseeded.
extern uint32_t randomSequenceState;

int32_t NextRandomValue();        // 0 to 32767
int32_t RandomBelow(int32_t n);   // (value * n) / 32768 in 32-bit arithmetic
ShakeAmounts ComputeShakeAmounts(int32_t width, int32_t height, int32_t shakePercent);
// Takes exactly 510 values of the sequence.
void BuildShakeMesh(ShakeMesh* mesh, int32_t width, int32_t height, int32_t amountX, int32_t amountY);
// Overwrites every pixel of `copy` (a copy of `source`, width x height) through the mesh.
void WarpFrame(const ImageOperations& images, const ShakeMesh* mesh, ImageHandle source, int32_t width, int32_t height,
               ImageHandle copy);

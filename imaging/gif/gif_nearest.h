// Exact nearest palette colour through a 32x32x32 grid of cells, each listing only the palette
// entries that can be nearest somewhere inside it. Kept small (about half a megabyte) because
// the lookups jump around the colour cube and every cache miss costs more than a distance.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/gif/gif_palette.h"

namespace gif {
namespace detail {

struct Candidate {
    int16_t r, g, b;
    int16_t index;
};

// cells[c] is kSingleCell | index when one entry is nearest everywhere in cell c, otherwise the
// position in `lists` of a count (less one) followed by that many palette indices.
struct NearestGrid {
    std::vector<uint32_t> cells;
    std::vector<uint8_t> lists;
    Candidate colours[256];  // the palette, indexed by palette index
};

const uint32_t kSingleCell = 0x80000000u;

// Builds the grid for palette colours [0, size), on up to `threads` threads. Throws std::bad_alloc.
void BuildNearestGrid(const Palette& palette, int size, int threads, NearestGrid* grid);

inline int CellOf(int r, int g, int b) { return (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3); }

// Index of the palette colour nearest (by WeightedDistance) to (r, g, b) (each 0..255); ties go to
// the lowest index.
inline int NearestIndex(const NearestGrid& grid, int r, int g, int b) {
    uint32_t cell = grid.cells[CellOf(r, g, b)];
    if (cell & kSingleCell) return int(cell & 255);
    const uint8_t* list = grid.lists.data() + cell;
    int count = list[0] + 1;
    int best = INT32_MAX;
    for (int k = 1; k <= count; ++k) {
        const Candidate& c = grid.colours[list[k]];
        int key = WeightedDistance(r - c.r, g - c.g, b - c.b) << 8 | c.index;
        best = key < best ? key : best;
    }
    return best & 255;
}

// The two palette entries nearest to the centre of every cell of a 64x64x64 grid (4 levels a
// side): one load and two distances per pixel where a nearly exact nearest colour is good enough.
// Under error diffusion it is: the error of whichever colour is chosen is carried on, and a
// dithered colour that falls between palette entries is where the exact search is slowest. The
// centre's nearest alone would cost a tenth of a dB; the nearer of the two is the exact nearest for
// almost every pixel.
struct CentreMap {
    // 64^3 pairs, 512 KB: the entry nearest to the centre | the next nearest of the grid cell's
    // candidates << 8 (the same entry twice where the grid cell has only one).
    std::vector<uint16_t> cells;
};

// Fills the map from the grid, on up to `threads` threads. Throws std::bad_alloc.
void BuildCentreMap(const NearestGrid& grid, int threads, CentreMap* map);

inline int CentreMapCell(int r, int g, int b) { return (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2); }

}  // namespace detail
}  // namespace gif

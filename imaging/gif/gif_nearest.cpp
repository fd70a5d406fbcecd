// Builds the nearest-colour grid level by level (8 then 32 cells a side): each cell tests only
// its parent cell's candidates, which always include its own, so no level tests every entry.
#include "imaging/gif/gif_nearest.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "imaging/gif/gif_schedule.h"

namespace gif {
namespace detail {

namespace {

int DistanceToRange(int v, int lo, int hi) { return v < lo ? lo - v : (v > hi ? v - hi : 0); }
int FarthestInRange(int v, int lo, int hi) { return std::max(v - lo, hi - v); }

struct Cube {
    int lo[3];
    int hi[3];  // inclusive
};

// The weighted distance grows with each channel's difference alone, so the nearest and farthest
// points of a cube are found channel by channel.
int MinDistance(const Candidate& c, const Cube& cube) {
    return WeightedDistance(DistanceToRange(c.r, cube.lo[0], cube.hi[0]), DistanceToRange(c.g, cube.lo[1], cube.hi[1]),
                            DistanceToRange(c.b, cube.lo[2], cube.hi[2]));
}

int MaxDistance(const Candidate& c, const Cube& cube) {
    return WeightedDistance(FarthestInRange(c.r, cube.lo[0], cube.hi[0]), FarthestInRange(c.g, cube.lo[1], cube.hi[1]),
                            FarthestInRange(c.b, cube.lo[2], cube.hi[2]));
}

// Appends to `out` the entries of [first, last) that can be nearest somewhere in the cube: an entry
// whose closest point is farther than some other entry's farthest point never wins there.
void KeepPossibleNearest(const Candidate* first, const Candidate* last, const Cube& cube,
                         std::vector<Candidate>* out) {
    int bound = INT32_MAX;
    for (const Candidate* c = first; c != last; ++c) bound = std::min(bound, MaxDistance(*c, cube));
    for (const Candidate* c = first; c != last; ++c) {
        if (MinDistance(*c, cube) <= bound) out->push_back(*c);
    }
}

Cube CubeOf(int r, int g, int b, int side) {
    return Cube{{r * side, g * side, b * side}, {r * side + side - 1, g * side + side - 1, b * side + side - 1}};
}


// One level of the grid: `cellsPerSide`^3 cells, each listing (in candidates[start[c], start[c+1]))
// the entries of its parent cell, one level coarser, that can be nearest inside it.
struct Level {
    int cellsPerSide;
    std::vector<uint32_t> start;
    std::vector<Candidate> candidates;
};

// The cells of one red slab of a level: slab.start[i] is where cell i of the slab starts in
// slab.candidates.
void RefineSlab(const Level& parent, int cellsPerSide, int r, Level* slab) {
    int side = 256 / cellsPerSide, ratio = cellsPerSide / parent.cellsPerSide;
    int slabCells = cellsPerSide * cellsPerSide;
    slab->start.assign(size_t(slabCells), 0);
    slab->candidates.clear();
    slab->candidates.reserve(size_t(slabCells) * 4);
    for (int cell = 0; cell < slabCells; ++cell) {
        int g = cell / cellsPerSide, b = cell % cellsPerSide;
        int p = ((r / ratio) * parent.cellsPerSide + g / ratio) * parent.cellsPerSide + b / ratio;
        slab->start[size_t(cell)] = uint32_t(slab->candidates.size());
        KeepPossibleNearest(parent.candidates.data() + parent.start[p], parent.candidates.data() + parent.start[p + 1],
                            CubeOf(r, g, b, side), &slab->candidates);
    }
}

// The slabs are worked out side by side and then laid end to end, the same whatever the threads.
void RefineLevel(const Level& parent, int cellsPerSide, int threads, Level* level) {
    std::vector<Level> slabs(static_cast<size_t>(cellsPerSide));
    std::atomic<bool> outOfMemory{false};
    RunParallel(threads, cellsPerSide, [&](int r) {
        try {
            RefineSlab(parent, cellsPerSide, r, &slabs[size_t(r)]);
        } catch (...) {
            outOfMemory = true;
        }
    });
    if (outOfMemory) throw std::bad_alloc();
    level->cellsPerSide = cellsPerSide;
    level->start.clear();
    level->candidates.clear();
    level->start.reserve(size_t(cellsPerSide) * cellsPerSide * cellsPerSide + 1);
    for (const Level& slab : slabs) {
        uint32_t offset = uint32_t(level->candidates.size());
        for (uint32_t start : slab.start) level->start.push_back(offset + start);
        level->candidates.insert(level->candidates.end(), slab.candidates.begin(), slab.candidates.end());
    }
    level->start.push_back(uint32_t(level->candidates.size()));
}

}  // namespace

void BuildNearestGrid(const Palette& palette, int size, int threads, NearestGrid* grid) {
    Level whole;
    whole.cellsPerSide = 1;
    for (int k = 0; k < size; ++k) {
        // A repeated colour never wins: ties go to the entry with the lower index.
        const Rgb& c = palette.colours[k];
        bool repeated = false;
        for (const Candidate& seen : whole.candidates) repeated = repeated || (seen.r == c.r && seen.g == c.g && seen.b == c.b);
        if (!repeated) whole.candidates.push_back(Candidate{c.r, c.g, c.b, int16_t(k)});
    }
    whole.start = {0, uint32_t(whole.candidates.size())};
    Level coarse, fine;
    RefineLevel(whole, 8, threads, &coarse);
    RefineLevel(coarse, 32, threads, &fine);

    for (int k = 0; k < 256; ++k) {
        const Rgb& c = palette.colours[k < size ? k : 0];
        grid->colours[k] = Candidate{c.r, c.g, c.b, int16_t(k)};
    }
    grid->cells.assign(fine.start.size() - 1, 0);
    grid->lists.clear();
    grid->lists.reserve(fine.candidates.size() + fine.start.size());
    for (size_t cell = 0; cell + 1 < fine.start.size(); ++cell) {
        uint32_t first = fine.start[cell], count = fine.start[cell + 1] - first;
        if (count == 1) {
            grid->cells[cell] = kSingleCell | uint32_t(fine.candidates[first].index);
            continue;
        }
        grid->cells[cell] = uint32_t(grid->lists.size());
        grid->lists.push_back(uint8_t(count - 1));  // 2..256 entries, as count - 1
        for (uint32_t k = first; k < first + count; ++k) grid->lists.push_back(uint8_t(fine.candidates[k].index));
    }
}

namespace {

// The cells of the map with red cell `red`.
void FillCentreSlab(const NearestGrid& grid, int red, CentreMap* map) {
    for (int cell = red << 12; cell < (red + 1) << 12; ++cell) {
        int r = cell >> 12, g = (cell >> 6) & 63, b = cell & 63;
        uint32_t parent = grid.cells[CellOf(r << 2, g << 2, b << 2)];
        if (parent & kSingleCell) {
            map->cells[cell] = uint16_t((parent & 255) * 0x101);
            continue;
        }
        const uint8_t* list = grid.lists.data() + parent;
        int count = list[0] + 1, hr = 8 * r + 3, hg = 8 * g + 3, hb = 8 * b + 3;
        int best = INT32_MAX, second = INT32_MAX;
        for (int k = 1; k <= count; ++k) {
            const Candidate& c = grid.colours[list[k]];
            int key = WeightedDistance(hr - 2 * c.r, hg - 2 * c.g, hb - 2 * c.b) << 8 | c.index;  // below 2^23 << 8
            second = std::min(second, std::max(best, key));
            best = std::min(best, key);
        }
        map->cells[cell] = uint16_t((best & 255) | (second & 255) << 8);
    }
}

}  // namespace

// Each 4-level cell lies inside one 8-level cell of the grid, whose list holds every entry that can
// be nearest anywhere in it, the cell's centre included. Distances are taken in half levels so
// that the centre (4c + 1.5) is a whole number.
void BuildCentreMap(const NearestGrid& grid, int threads, CentreMap* map) {
    map->cells.resize(64 * 64 * 64);
    RunParallel(threads, 64, [&](int red) { FillCentreSlab(grid, red, map); });
}

}  // namespace detail
}  // namespace gif

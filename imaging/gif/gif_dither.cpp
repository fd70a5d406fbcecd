// Error diffusion tuned for photos shown as a few-frame loop: serpentine Floyd-Steinberg at three
// quarters strength, carried error clamped, and none carried where it is too small to matter, so
// flat areas stay flat instead of filling with noise that would also cost bytes and flicker.
#include "imaging/gif/gif_dither.h"

#include <algorithm>
#include <cstring>

namespace gif {
namespace detail {

namespace {

// Diffused error is kept in 1/64 units: the Floyd-Steinberg sixteenths times the 3/4 strength.
const int kShareAhead = 7 * 3;
const int kShareBehindBelow = 3 * 3;
const int kShareBelow = 5 * 3;
const int kShareAheadBelow = 1 * 3;
const int kMaxCarried = 24;      // per channel, in colour levels
const int kDeadZoneSquared = 20; // smaller carried errors (squared, in levels) are dropped
const int kMemoBits = 12;
static_assert(size_t(1) << kMemoBits == kMemoEntries, "memo size and its bits agree");

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline int SquaredDistance(int r, int g, int b, const Rgb& c) {
    int dr = r - c.r, dg = g - c.g, db = b - c.b;
    return dr * dr + dg * dg + db * db;
}

// The nearest index through a small direct-mapped memo of recent colours (a photo repeats its
// colours locally), falling back to the grid. Slots start as white with white's nearest index,
// which is a true entry, so an empty slot needs no marker.
inline int MemoNearest(const BandJob& job, int r, int g, int b) {
    uint32_t colour = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    uint32_t slot = (colour * 0x9E3779B1u) >> (32 - kMemoBits);
    uint32_t entry = job.memo[slot];
    if (entry >> 8 == colour) return int(entry & 255);
    int index = NearestIndex(*job.grid, r, g, b);
    job.memo[slot] = colour << 8 | uint32_t(index);
    return index;
}

// Picks the index to show for (r, g, b) given its nearest: that one, unless the colour already on
// screen is nearly as close, in which case keeping it lets the pixel be sent as "unchanged".
inline int ChooseIndex(const BandJob& job, int r, int g, int b, int nearest, const uint8_t* shownRow, int x) {
    if (!shownRow) return nearest;
    int shown = shownRow[x];
    if (shown == nearest) return nearest;
    int nearestDistance = SquaredDistance(r, g, b, job.palette->colours[nearest]);
    int shownDistance = SquaredDistance(r, g, b, job.palette->colours[shown]);
    return shownDistance <= nearestDistance + job.keepTolerance ? shown : nearest;
}

void MapRowPlain(const BandJob& job, int y) {
    const Frame& f = *job.frame;
    const uint8_t* src = f.firstRow + ptrdiff_t(y) * f.stride;
    uint8_t* out = job.indices + size_t(y) * size_t(f.width);
    const uint8_t* shownRow = job.shown ? job.shown + size_t(y) * size_t(f.width) : nullptr;
    for (int x = 0; x < f.width; ++x) {
        int r = src[3 * x + 2], g = src[3 * x + 1], b = src[3 * x];
        out[x] = uint8_t(ChooseIndex(job, r, g, b, MemoNearest(job, r, g, b), shownRow, x));
    }
}

struct Rgb32 {
    int32_t r, g, b;
};

inline int CarriedLevels(int32_t sixtyFourths) { return Clamp((sixtyFourths + 32) >> 6, -kMaxCarried, kMaxCarried); }

// The state of one serpentine row being dithered. `carried` holds the row's incoming error and
// `below` receives the next row's, both indexed (x + 1) * 3 + channel. The error for the pixel
// ahead and the partial sums for the row below stay in registers, so each entry of `below` is
// written exactly once (the entry just past the row's start is padding for the first pixel).
struct RowChain {
    const uint8_t* src;
    uint8_t* out;
    const uint8_t* shownRow;
    const int16_t* carried;
    int16_t* below;
    Rgb32 ahead, behindBelow, underBelow;
};

RowChain StartRow(const BandJob& job, int y, const int16_t* carried, int16_t* below) {
    const Frame& f = *job.frame;
    RowChain row;
    row.src = f.firstRow + ptrdiff_t(y) * f.stride;
    row.out = job.indices + size_t(y) * size_t(f.width);
    row.shownRow = job.shown ? job.shown + size_t(y) * size_t(f.width) : nullptr;
    row.carried = carried;
    row.below = below;
    row.ahead = row.behindBelow = row.underBelow = Rgb32{0, 0, 0};
    return row;
}

inline void DitherPixel(const BandJob& job, RowChain& row, int x, int step) {
    const int16_t* in = row.carried + (x + 1) * 3;
    int er = CarriedLevels(in[0] + row.ahead.r);
    int eg = CarriedLevels(in[1] + row.ahead.g);
    int eb = CarriedLevels(in[2] + row.ahead.b);
    if (er * er + eg * eg + eb * eb < kDeadZoneSquared) er = eg = eb = 0;
    int r = Clamp(row.src[3 * x + 2] + er, 0, 255);
    int g = Clamp(row.src[3 * x + 1] + eg, 0, 255);
    int b = Clamp(row.src[3 * x] + eb, 0, 255);
    int nearest = job.centreMap->cells[CentreMapCell(r, g, b)];
    int index = ChooseIndex(job, r, g, b, nearest, row.shownRow, x);
    row.out[x] = uint8_t(index);
    const Rgb& c = job.palette->colours[index];
    int dr = r - c.r, dg = g - c.g, db = b - c.b;
    row.ahead = Rgb32{dr * kShareAhead, dg * kShareAhead, db * kShareAhead};
    int16_t* behind = row.below + (x + 1 - step) * 3;
    behind[0] = int16_t(row.behindBelow.r + dr * kShareBehindBelow);
    behind[1] = int16_t(row.behindBelow.g + dg * kShareBehindBelow);
    behind[2] = int16_t(row.behindBelow.b + db * kShareBehindBelow);
    row.behindBelow = Rgb32{row.underBelow.r + dr * kShareBelow, row.underBelow.g + dg * kShareBelow,
                            row.underBelow.b + db * kShareBelow};
    row.underBelow = Rgb32{dr * kShareAheadBelow, dg * kShareAheadBelow, db * kShareAheadBelow};
}

void FinishRow(RowChain& row, int lastX) {
    int16_t* last = row.below + (lastX + 1) * 3;
    last[0] = int16_t(row.behindBelow.r);
    last[1] = int16_t(row.behindBelow.g);
    last[2] = int16_t(row.behindBelow.b);
}

// A run of rows dithered as one chain of error: its own two error rows, restarting at zero.
struct Strip {
    int firstRow, endRow;
    int16_t* carried;
    int16_t* below;
};

Strip StartStrip(int firstRow, int endRow, int16_t* errorRows, size_t rowValues) {
    std::memset(errorRows, 0, rowValues * sizeof(int16_t));
    return Strip{firstRow, endRow, errorRows, errorRows + rowValues};
}

// Dithers row `i` of each strip (when it has one) in the same pass. The two chains of error are
// independent, so the processor overlaps one's memory and nearest-colour latency with the other's.
void DitherRows(const BandJob& job, Strip* strips, int stripCount, int i) {
    int width = job.frame->width;
    bool leftToRight = i % 2 == 0;
    int step = leftToRight ? 1 : -1;
    int x0 = leftToRight ? 0 : width - 1;
    bool live[2];
    RowChain rows[2];
    for (int k = 0; k < stripCount; ++k) {
        live[k] = strips[k].firstRow + i < strips[k].endRow;
        if (live[k]) rows[k] = StartRow(job, strips[k].firstRow + i, strips[k].carried, strips[k].below);
    }
    if (stripCount == 2 && live[0] && live[1]) {
        for (int n = 0, x = x0; n < width; ++n, x += step) {
            DitherPixel(job, rows[0], x, step);
            DitherPixel(job, rows[1], x, step);
        }
    } else {
        for (int k = 0; k < stripCount; ++k) {
            if (!live[k]) continue;
            for (int n = 0, x = x0; n < width; ++n, x += step) DitherPixel(job, rows[k], x, step);
        }
    }
    int lastX = leftToRight ? width - 1 : 0;
    for (int k = 0; k < stripCount; ++k) {
        if (!live[k]) continue;
        FinishRow(rows[k], lastX);
        std::swap(strips[k].carried, strips[k].below);
    }
}

}  // namespace

void MapBand(const BandJob& job) {
    if (!job.dither) {
        int white = NearestIndex(*job.grid, 255, 255, 255);
        for (size_t k = 0; k < kMemoEntries; ++k) job.memo[k] = 0xFFFFFF00u | uint32_t(white);
        for (int y = job.firstRow; y < job.endRow; ++y) MapRowPlain(job, y);
        return;
    }
    // The band is dithered as two strips, its upper and lower half, side by side.
    size_t rowValues = size_t(job.frame->width + 2) * 3;
    int rows = job.endRow - job.firstRow, upperRows = (rows + 1) / 2;
    Strip strips[2] = {StartStrip(job.firstRow, job.firstRow + upperRows, job.errorRows, rowValues),
                       StartStrip(job.firstRow + upperRows, job.endRow, job.errorRows + 2 * rowValues, rowValues)};
    for (int i = 0; i < upperRows; ++i) DitherRows(job, strips, 2, i);
}

}  // namespace detail
}  // namespace gif

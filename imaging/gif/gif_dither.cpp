// Error diffusion tuned for photos shown as a few-frame loop: serpentine Floyd-Steinberg at reduced
// strength (EncodeOptions), carried error clamped, and none carried where it is too small to matter, so
// flat areas stay flat instead of filling with noise that would also cost bytes and flicker.
#include "imaging/gif/gif_dither.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "imaging/gif/gif_transparency.h"

namespace gif {
namespace detail {

namespace {

// Floyd-Steinberg's sixteenths of the error for the neighbours: ahead, behind below, below and
// ahead below. Diffused error is kept in 1/64 units, each share scaled by the dither strength.
const int kSixteenthsAhead = 7;
const int kSixteenthsBehindBelow = 3;
const int kSixteenthsBelow = 5;
const int kSixteenthsAheadBelow = 1;
const int kMaxCarried = 24;  // per channel, in colour levels
// Smaller carried errors (weighted squared distance, in levels) are dropped: flat areas stay flat.
// Weighted, so a small error in brightness still moves a pixel where one in blue alone does not.
const int kDeadZone = 40;
const int kMemoBits = 12;
static_assert(size_t(1) << kMemoBits == kMemoEntries, "memo size and its bits agree");

inline int DistanceTo(int r, int g, int b, const Rgb& c) { return WeightedDistance(r - c.r, g - c.g, b - c.b); }

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
    if (shown == nearest || shown == job.transparentIndex) return nearest;
    int nearestDistance = DistanceTo(r, g, b, job.palette->colours[nearest]);
    int shownDistance = DistanceTo(r, g, b, job.palette->colours[shown]);
    return shownDistance <= nearestDistance + job.keepTolerance ? shown : nearest;
}

void MapRowPlain(const BandJob& job, int y) {
    const Frame& f = *job.frame;
    const uint8_t* src = f.firstRow + ptrdiff_t(y) * f.stride;
    uint8_t* out = job.indices + size_t(y) * size_t(f.width);
    const uint8_t* shownRow = job.shown ? job.shown + size_t(y) * size_t(f.width) : nullptr;
    for (int x = 0; x < f.width; ++x) {
        if (IsKeyPixel(src + 3 * x, f.transparentKey)) {
            out[x] = uint8_t(job.transparentIndex);
            continue;
        }
        int r = src[3 * x + 2], g = src[3 * x + 1], b = src[3 * x];
        out[x] = uint8_t(ChooseIndex(job, r, g, b, MemoNearest(job, r, g, b), shownRow, x));
    }
}

// ---- Error diffusion, a pixel's three channels at once in the low four 16-bit lanes of an SSE2
// register (red, green, blue, 0; the upper four stay zero). All error sums stay within 16 bits:
// even at full strength at most 36 * 255 arrives from the row above and 28 * 255 from behind.

inline __m128i Lanes(const int16_t* values) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values)); }

inline void StoreLanes(int16_t* values, __m128i lanes) { _mm_storel_epi64(reinterpret_cast<__m128i*>(values), lanes); }

// What a pixel needs besides its row: the palette as lanes and the nearest-colour map.
struct DitherTables {
    const BandJob* job;
    const int16_t* paletteLanes;  // 256 entries of kErrorLanes values
    const uint16_t* centreMap;
    int32_t key;                  // the frame's transparent colour
    __m128i shareAhead, shareBehindBelow, shareBelow, shareAheadBelow;  // in 1/64 of the error
};

// A neighbour's share of the error in 1/64 units: its sixteenths scaled by the strength (percent).
__m128i Share(int sixteenths, int strength) { return _mm_set1_epi16(int16_t((sixteenths * strength * 4 + 50) / 100)); }

inline __m128i ColourLanes(const DitherTables& t, int index) { return Lanes(t.paletteLanes + index * kErrorLanes); }

// The channel weights as lanes: madd(v, v * weights) gives the weighted squared length in pairs.
inline __m128i WeightLanes() {
    return _mm_setr_epi16(kWeightRed, kWeightGreen, kWeightBlue, 0, kWeightRed, kWeightGreen, kWeightBlue, 0);
}

inline __m128i WeightedSquares(__m128i v) { return _mm_madd_epi16(v, _mm_mullo_epi16(v, WeightLanes())); }

// Each of the low two 32-bit lanes gets their sum: with a squared length from madd in them
// (r*r + g*g, b*b + 0), both hold the whole, which then masks all four 16-bit lanes alike.
inline __m128i LowPairSum(__m128i v) { return _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1))); }

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// The error left by the colour to show for a pixel held as lanes (pixel minus colour), and the
// colour's index in *index: the nearer of the two the map offers, unless the colour on screen is
// nearly as close (see ChooseIndex). Settled by masks rather than branches: the choice sits on the
// chain of error from pixel to pixel, so the comparisons run side by side.
inline __m128i ChooseColourError(const DitherTables& t, __m128i pixel, uint32_t pair, const uint8_t* shownRow, int x,
                                 int* index) {
    int first = int(pair & 255), second = int(pair >> 8);
    __m128i offsets = _mm_sub_epi16(_mm_unpacklo_epi64(pixel, pixel),
                                    _mm_unpacklo_epi64(ColourLanes(t, first), ColourLanes(t, second)));
    __m128i distances = LowPairSum(WeightedSquares(offsets));  // first, first, second, second
    __m128i firstDistance = _mm_shuffle_epi32(distances, _MM_SHUFFLE(1, 0, 1, 0));
    __m128i secondDistance = _mm_shuffle_epi32(distances, _MM_SHUFFLE(3, 2, 3, 2));
    __m128i takeSecond = _mm_cmpgt_epi32(firstDistance, secondDistance);
    int nearest = first ^ ((first ^ second) & _mm_cvtsi128_si32(takeSecond));
    __m128i nearestError = Select(takeSecond, _mm_unpackhi_epi64(offsets, _mm_setzero_si128()), _mm_move_epi64(offsets));
    if (!shownRow) {
        *index = nearest;
        return nearestError;
    }
    // Keeping the shown colour needs it within the tolerance of the nearer, so of both.
    int shown = shownRow[x];
    __m128i shownError = _mm_sub_epi16(pixel, ColourLanes(t, shown));
    __m128i shownDistance = LowPairSum(WeightedSquares(shownError));
    __m128i tolerance = _mm_set1_epi32(t.job->keepTolerance);
    __m128i takeNearest = _mm_or_si128(_mm_cmpgt_epi32(shownDistance, _mm_add_epi32(firstDistance, tolerance)),
                                        _mm_cmpgt_epi32(shownDistance, _mm_add_epi32(secondDistance, tolerance)));
    *index = shown ^ ((shown ^ nearest) & _mm_cvtsi128_si32(takeNearest));
    return Select(takeNearest, nearestError, shownError);
}

// The state of one serpentine row being dithered. `carried` holds the row's incoming error and
// `below` receives the next row's, both kErrorLanes values per pixel at (x + 1) * kErrorLanes. The
// error for the pixel ahead and the partial sums for the row below stay in registers, so each entry
// of `below` is written exactly once (the entry just past the row's start is padding for the first
// pixel).
struct RowChain {
    const uint8_t* src;
    uint8_t* out;
    const uint8_t* shownRow;
    const int16_t* carried;
    int16_t* below;
    __m128i ahead;                    // in 1/64 levels, plus the half that rounds the sum
    __m128i behindBelow, underBelow;  // in 1/64 levels
};

const int kRounding = 32;
// Where the page shows, in every lane: a pixel's offset from it, weighted, still fits 16 bits and
// its distance (near 8 * 5800^2) the 32-bit sums, far beyond the nearest colour plus any tolerance.
const int16_t kPageLane = 6000;

RowChain StartRow(const BandJob& job, int y, const int16_t* carried, int16_t* below) {
    const Frame& f = *job.frame;
    RowChain row;
    row.src = f.firstRow + ptrdiff_t(y) * f.stride;
    row.out = job.indices + size_t(y) * size_t(f.width);
    row.shownRow = job.shown ? job.shown + size_t(y) * size_t(f.width) : nullptr;
    row.carried = carried;
    row.below = below;
    row.ahead = _mm_setr_epi16(kRounding, kRounding, kRounding, 0, 0, 0, 0, 0);
    row.behindBelow = row.underBelow = _mm_setzero_si128();
    return row;
}

// The index for pixel x of the row, in row.out, and the error it leaves (pixel minus colour).
inline __m128i MapOpaquePixel(const DitherTables& t, RowChain& row, int x) {
    // The carried error in whole levels, clamped, and dropped when it is too small to matter.
    __m128i sum = _mm_add_epi16(Lanes(row.carried + (x + 1) * kErrorLanes), row.ahead);
    __m128i levels = _mm_srai_epi16(sum, 6);
    levels = _mm_min_epi16(_mm_max_epi16(levels, _mm_set1_epi16(-kMaxCarried)), _mm_set1_epi16(kMaxCarried));
    __m128i small = _mm_cmplt_epi32(LowPairSum(WeightedSquares(levels)), _mm_set1_epi32(kDeadZone));

    const uint8_t* s = row.src + 3 * x;
    __m128i source = _mm_setr_epi16(s[2], s[1], s[0], 0, 0, 0, 0, 0);
    __m128i moved = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(source, levels), _mm_setzero_si128()), _mm_set1_epi16(255));
    __m128i pixel = Select(small, source, moved);
    // CentreMapCell of the three lanes: (r >> 2) * 4096 + (g >> 2) * 64 + (b >> 2).
    __m128i cellParts = _mm_madd_epi16(_mm_srli_epi16(pixel, 2), _mm_setr_epi16(4096, 64, 1, 0, 0, 0, 0, 0));
    int cell = _mm_cvtsi128_si32(LowPairSum(cellParts));
    int index;
    __m128i error = ChooseColourError(t, pixel, t.centreMap[cell], row.shownRow, x, &index);
    row.out[x] = uint8_t(index);
    return error;
}

// Maps pixel x and diffuses its error. A key pixel (looked for only in a keyed frame) takes the
// transparent index, drops the error that reached it and passes none on.
template <bool kKeyed>
inline void DitherPixel(const DitherTables& t, RowChain& row, int x, int step) {
    __m128i error;
    if (kKeyed && IsKeyPixel(row.src + 3 * x, t.key)) {
        row.out[x] = uint8_t(t.job->transparentIndex);
        error = _mm_setzero_si128();
    } else {
        error = MapOpaquePixel(t, row, x);
    }
    row.ahead = _mm_add_epi16(_mm_mullo_epi16(error, t.shareAhead),
                              _mm_setr_epi16(kRounding, kRounding, kRounding, 0, 0, 0, 0, 0));
    __m128i behind = _mm_add_epi16(row.behindBelow, _mm_mullo_epi16(error, t.shareBehindBelow));
    StoreLanes(row.below + (x + 1 - step) * kErrorLanes, behind);
    row.behindBelow = _mm_add_epi16(row.underBelow, _mm_mullo_epi16(error, t.shareBelow));
    row.underBelow = _mm_mullo_epi16(error, t.shareAheadBelow);
}

void FinishRow(RowChain& row, int lastX) { StoreLanes(row.below + (lastX + 1) * kErrorLanes, row.behindBelow); }

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

// Dithers row `i` of each strip (when it has one) in the same pass. The chains of error are
// independent, so the processor overlaps one's memory and nearest-colour latency with the others'.
template <bool kKeyed>
void DitherRows(const DitherTables& t, Strip* strips, int i) {
    const BandJob& job = *t.job;
    int width = job.frame->width;
    bool leftToRight = i % 2 == 0;
    int step = leftToRight ? 1 : -1;
    int x0 = leftToRight ? 0 : width - 1;
    bool live[kStripsPerBand];
    bool allLive = true;
    RowChain rows[kStripsPerBand];
    for (int k = 0; k < kStripsPerBand; ++k) {
        live[k] = strips[k].firstRow + i < strips[k].endRow;
        allLive = allLive && live[k];
        if (live[k]) rows[k] = StartRow(job, strips[k].firstRow + i, strips[k].carried, strips[k].below);
    }
    if (allLive) {
        for (int n = 0, x = x0; n < width; ++n, x += step) {
            for (int k = 0; k < kStripsPerBand; ++k) DitherPixel<kKeyed>(t, rows[k], x, step);
        }
    } else {
        for (int k = 0; k < kStripsPerBand; ++k) {
            if (!live[k]) continue;
            for (int n = 0, x = x0; n < width; ++n, x += step) DitherPixel<kKeyed>(t, rows[k], x, step);
        }
    }
    int lastX = leftToRight ? width - 1 : 0;
    for (int k = 0; k < kStripsPerBand; ++k) {
        if (!live[k]) continue;
        FinishRow(rows[k], lastX);
        std::swap(strips[k].carried, strips[k].below);
    }
}

}  // namespace

void MapBand(const BandJob& job) {
    if (job.ditherStrength <= 0) {
        int white = NearestIndex(*job.grid, 255, 255, 255);
        for (size_t k = 0; k < kMemoEntries; ++k) job.memo[k] = 0xFFFFFF00u | uint32_t(white);
        for (int y = job.firstRow; y < job.endRow; ++y) MapRowPlain(job, y);
        return;
    }
    // Palette entries past the size are never chosen. Where the page shows, the screen's "colour"
    // lies so far off that keeping it never comes within the tolerance.
    int16_t paletteLanes[256 * kErrorLanes] = {};
    for (int k = 0; k < job.palette->size; ++k) {
        const Rgb& c = job.palette->colours[k];
        paletteLanes[k * kErrorLanes] = c.r;
        paletteLanes[k * kErrorLanes + 1] = c.g;
        paletteLanes[k * kErrorLanes + 2] = c.b;
    }
    if (job.transparentIndex < 256) {
        for (size_t lane = 0; lane < 3; ++lane) paletteLanes[job.transparentIndex * kErrorLanes + lane] = kPageLane;
    }
    const int strength = std::min(job.ditherStrength, kMaxDitherStrength);
    DitherTables tables{&job, paletteLanes, job.centreMap->cells.data(), job.frame->transparentKey,
                        Share(kSixteenthsAhead, strength), Share(kSixteenthsBehindBelow, strength),
                        Share(kSixteenthsBelow, strength), Share(kSixteenthsAheadBelow, strength)};
    // The band is dithered as kStripsPerBand strips of consecutive rows, side by side.
    size_t rowValues = size_t(job.frame->width + 2) * kErrorLanes;
    int rows = job.endRow - job.firstRow, stripRows = (rows + kStripsPerBand - 1) / kStripsPerBand;
    Strip strips[kStripsPerBand];
    for (int k = 0; k < kStripsPerBand; ++k) {
        int first = std::min(job.endRow, job.firstRow + k * stripRows);
        int end = std::min(job.endRow, first + stripRows);
        strips[k] = StartStrip(first, end, job.errorRows + 2 * k * rowValues, rowValues);
    }
    bool keyed = job.frame->transparentKey != kOpaque;
    for (int i = 0; i < stripRows; ++i) {
        if (keyed) {
            DitherRows<true>(tables, strips, i);
        } else {
            DitherRows<false>(tables, strips, i);
        }
    }
}

}  // namespace detail
}  // namespace gif

// The shared palette: an exact colour census for pictures with few colours, otherwise Wu's
// variance-minimising split of a sampled colour histogram followed by k-means passes.
#include "imaging/gif/gif_palette.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "imaging/gif/gif_schedule.h"
#include "imaging/gif/gif_transparency.h"

namespace gif {
namespace detail {

namespace {

const uint8_t* RowStart(const Frame& frame, int y) { return frame.firstRow + ptrdiff_t(y) * frame.stride; }


// A small open-addressed set of packed colours; 0xFFFFFFFF marks an empty slot.
struct ColourSet {
    static const int kSlots = 1024;
    uint32_t slots[kSlots];
    int size;
};

// Returns false when the set already holds `limit` colours and `colour` would be one more.
bool InsertColour(ColourSet* set, uint32_t colour, int limit) {
    uint32_t slot = (colour * 2654435761u) >> 22;
    while (set->slots[slot] != 0xFFFFFFFFu) {
        if (set->slots[slot] == colour) return true;
        slot = (slot + 1) & (ColourSet::kSlots - 1);
    }
    if (set->size == limit) return false;
    set->slots[slot] = colour;
    set->size++;
    return true;
}

// ---- Wu's quantiser over a 33x33x33 table of cumulative moments (index 0 is the zero border).

const int kSide = 33;
const int kCells = kSide * kSide * kSide;

inline int CellIndex(int r, int g, int b) { return (r * kSide + g) * kSide + b; }

// All integer, so the palette is the same on every compiler and floating-point unit. The sample's
// total weight stays below 2^23 (see kSampleTarget), so a channel sum stays below 2^31 and its
// square, taken before any weight multiplies it, below 2^62.
struct Moments {
    std::vector<int64_t> weight, red, green, blue, square;
};

struct Box {
    int r0, r1, g0, g1, b0, b1;  // exclusive lower, inclusive upper bounds
    int volume;
};

template <typename T>
T Volume(const Box& box, const std::vector<T>& m) {
    return m[CellIndex(box.r1, box.g1, box.b1)] - m[CellIndex(box.r1, box.g1, box.b0)] -
           m[CellIndex(box.r1, box.g0, box.b1)] + m[CellIndex(box.r1, box.g0, box.b0)] -
           m[CellIndex(box.r0, box.g1, box.b1)] + m[CellIndex(box.r0, box.g1, box.b0)] +
           m[CellIndex(box.r0, box.g0, box.b1)] - m[CellIndex(box.r0, box.g0, box.b0)];
}

enum Axis { kRed, kGreen, kBlue };

// The part of the box's moment below the box's lower bound along `axis` (to be subtracted).
int64_t Bottom(const Box& box, Axis axis, const std::vector<int64_t>& m) {
    switch (axis) {
        case kRed:
            return -m[CellIndex(box.r0, box.g1, box.b1)] + m[CellIndex(box.r0, box.g1, box.b0)] +
                   m[CellIndex(box.r0, box.g0, box.b1)] - m[CellIndex(box.r0, box.g0, box.b0)];
        case kGreen:
            return -m[CellIndex(box.r1, box.g0, box.b1)] + m[CellIndex(box.r1, box.g0, box.b0)] +
                   m[CellIndex(box.r0, box.g0, box.b1)] - m[CellIndex(box.r0, box.g0, box.b0)];
        default:
            return -m[CellIndex(box.r1, box.g1, box.b0)] + m[CellIndex(box.r1, box.g0, box.b0)] +
                   m[CellIndex(box.r0, box.g1, box.b0)] - m[CellIndex(box.r0, box.g0, box.b0)];
    }
}

// The moment of the slab of the box at `position` along `axis`, cumulative from the origin.
int64_t Top(const Box& box, Axis axis, int position, const std::vector<int64_t>& m) {
    switch (axis) {
        case kRed:
            return m[CellIndex(position, box.g1, box.b1)] - m[CellIndex(position, box.g1, box.b0)] -
                   m[CellIndex(position, box.g0, box.b1)] + m[CellIndex(position, box.g0, box.b0)];
        case kGreen:
            return m[CellIndex(box.r1, position, box.b1)] - m[CellIndex(box.r1, position, box.b0)] -
                   m[CellIndex(box.r0, position, box.b1)] + m[CellIndex(box.r0, position, box.b0)];
        default:
            return m[CellIndex(box.r1, box.g1, position)] - m[CellIndex(box.r1, box.g0, position)] -
                   m[CellIndex(box.r0, box.g1, position)] + m[CellIndex(box.r0, box.g0, position)];
    }
}

// The weighted squared length of a sum of w colours, divided by w (each channel divided before it
// is weighted, which keeps the products in range).
int64_t WeightedSquareOver(int64_t r, int64_t g, int64_t b, int64_t w) {
    return kWeightRed * (r * r / w) + kWeightGreen * (g * g / w) + kWeightBlue * (b * b / w);
}

int64_t Variance(const Box& box, const Moments& m) {
    int64_t w = Volume(box, m.weight);
    if (w <= 0) return 0;
    return Volume(box, m.square) - WeightedSquareOver(Volume(box, m.red), Volume(box, m.green), Volume(box, m.blue), w);
}

struct Sums {
    int64_t r, g, b, w;
};

// Finds the cut along `axis` that leaves the two halves with the least total variance, which is
// the one maximising sum(|half sum|^2 / half weight), weighted. Returns the score; *cut is -1 if none.
int64_t BestCut(const Box& box, Axis axis, int first, int last, const Sums& whole, const Moments& m, int* cut) {
    Sums base{Bottom(box, axis, m.red), Bottom(box, axis, m.green), Bottom(box, axis, m.blue),
              Bottom(box, axis, m.weight)};
    int64_t best = 0;
    *cut = -1;
    for (int i = first; i < last; ++i) {
        Sums half{base.r + Top(box, axis, i, m.red), base.g + Top(box, axis, i, m.green),
                  base.b + Top(box, axis, i, m.blue), base.w + Top(box, axis, i, m.weight)};
        if (half.w == 0) continue;
        Sums rest{whole.r - half.r, whole.g - half.g, whole.b - half.b, whole.w - half.w};
        if (rest.w == 0) continue;
        int64_t score =
            WeightedSquareOver(half.r, half.g, half.b, half.w) + WeightedSquareOver(rest.r, rest.g, rest.b, rest.w);
        if (score > best) {
            best = score;
            *cut = i;
        }
    }
    return best;
}

int BoxVolume(const Box& b) { return (b.r1 - b.r0) * (b.g1 - b.g0) * (b.b1 - b.b0); }

bool SplitBox(Box* box, Box* other, const Moments& m) {
    Sums whole{Volume(*box, m.red), Volume(*box, m.green), Volume(*box, m.blue), Volume(*box, m.weight)};
    int cutR, cutG, cutB;
    int64_t bestR = BestCut(*box, kRed, box->r0 + 1, box->r1, whole, m, &cutR);
    int64_t bestG = BestCut(*box, kGreen, box->g0 + 1, box->g1, whole, m, &cutG);
    int64_t bestB = BestCut(*box, kBlue, box->b0 + 1, box->b1, whole, m, &cutB);
    *other = *box;
    if (bestR >= bestG && bestR >= bestB) {
        if (cutR < 0) return false;
        box->r1 = other->r0 = cutR;
    } else if (bestG >= bestR && bestG >= bestB) {
        if (cutG < 0) return false;
        box->g1 = other->g0 = cutG;
    } else {
        if (cutB < 0) return false;
        box->b1 = other->b0 = cutB;
    }
    box->volume = BoxVolume(*box);
    other->volume = BoxVolume(*other);
    return true;
}

template <typename T>
void Accumulate(std::vector<T>* table) {
    std::vector<T>& v = *table;
    for (int r = 1; r < kSide; ++r) {
        T area[kSide] = {};
        for (int g = 1; g < kSide; ++g) {
            T line = 0;
            for (int b = 1; b < kSide; ++b) {
                line += v[CellIndex(r, g, b)];
                area[b] += line;
                v[CellIndex(r, g, b)] = v[CellIndex(r - 1, g, b)] + area[b];
            }
        }
    }
}

// ---- The sample the palette is built from: whole rows spread evenly over all frames, binned at
// 6 bits per channel (count and colour sums per bin) for k-means, and at 5 bits for Wu. Each pixel
// counts more the smoother its neighbourhood: banding in a smooth area shows, while noise and
// texture hide small errors, so smooth areas earn more of the palette.

// Pixels sampled, about (at most twice, as rows are whole). Measured: as good a palette as two
// million, at a fifth of the time. With weights up to kMaxPixelWeight, the total stays below 2^23.
const int kSampleTarget = 400000;
// A pixel's weight: 1 + kSmoothBonus * kActivityScale / (kActivityScale + activity), where the
// activity is the sum of its absolute differences from its four neighbours, all channels.
const int kSmoothBonus = 6;
const int kActivityScale = 10;
const int kMaxPixelWeight = 1 + kSmoothBonus;
static_assert(int64_t(2 * kSampleTarget + 65535) * kMaxPixelWeight < (int64_t(1) << 23), "sample weight bound");

struct FineBin {
    uint32_t count, r, g, b;
};

// The sample's exact colours and their weights, while there are few: a graphic's flat colours,
// which the palette should hold exactly rather than a level or two off.
struct ExactCensus {
    static const int kLimit = 4096;
    static const int kSlots = 2 * kLimit;
    std::vector<uint32_t> colours;  // kSlots, 0xFFFFFFFF when empty
    std::vector<uint32_t> weights;
    int size;
    bool overflowed;  // more than kLimit colours: a photo, counted no further
};

void CountExactColour(ExactCensus* census, uint32_t colour, uint32_t weight) {
    if (census->overflowed) return;
    uint32_t slot = (colour * 2654435761u) >> 19;  // 13 bits: kSlots
    while (census->colours[slot] != colour) {
        if (census->colours[slot] == 0xFFFFFFFFu) {
            if (census->size == ExactCensus::kLimit) {
                census->overflowed = true;
                return;
            }
            census->colours[slot] = colour;
            census->size++;
            break;
        }
        slot = (slot + 1) & (ExactCensus::kSlots - 1);
    }
    census->weights[slot] += weight;
}

struct Sample {
    std::vector<FineBin> fine;  // 64x64x64 bins
    Moments coarse;             // 33x33x33 Wu tables, not yet cumulative
    ExactCensus census;
};

int AbsoluteDifference(const uint8_t* a, const uint8_t* b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}

// The rows above and under are the row itself at the frame's edges, as are the pixels beside it.
struct SampleRow {
    const uint8_t* row;
    const uint8_t* above;
    const uint8_t* under;
    int width;
    int32_t key;
};

int PixelWeight(const SampleRow& s, int x) {
    const uint8_t* p = s.row + 3 * x;
    int activity = AbsoluteDifference(p, p - (x > 0 ? 3 : 0)) + AbsoluteDifference(p, p + (x + 1 < s.width ? 3 : 0)) +
                   AbsoluteDifference(p, s.above + 3 * x) + AbsoluteDifference(p, s.under + 3 * x);
    return 1 + kSmoothBonus * kActivityScale / (kActivityScale + activity);
}

void AddSampleRow(const SampleRow& s, Sample* sample) {
    for (int x = 0; x < s.width; ++x) {
        const uint8_t* p = s.row + 3 * x;
        if (IsKeyPixel(p, s.key)) continue;
        int b = p[0], g = p[1], r = p[2];
        uint32_t w = uint32_t(PixelWeight(s, x));
        FineBin& bin = sample->fine[(r >> 2) << 12 | (g >> 2) << 6 | (b >> 2)];
        bin.count += w;
        bin.r += r * w;
        bin.g += g * w;
        bin.b += b * w;
        int cell = CellIndex((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
        sample->coarse.weight[cell] += w;
        sample->coarse.red[cell] += r * w;
        sample->coarse.green[cell] += g * w;
        sample->coarse.blue[cell] += b * w;
        sample->coarse.square[cell] += int64_t(WeightedDistance(r, g, b)) * w;
        CountExactColour(&sample->census, PackedColour(p), w);
    }
}

void TakeSample(const Frame* frames, int count, Sample* sample) {
    sample->fine.assign(64 * 64 * 64, FineBin{0, 0, 0, 0});
    sample->census.colours.assign(ExactCensus::kSlots, 0xFFFFFFFFu);
    sample->census.weights.assign(ExactCensus::kSlots, 0);
    sample->census.size = 0;
    sample->census.overflowed = false;
    sample->coarse.weight.assign(kCells, 0);
    sample->coarse.red.assign(kCells, 0);
    sample->coarse.green.assign(kCells, 0);
    sample->coarse.blue.assign(kCells, 0);
    sample->coarse.square.assign(kCells, 0);
    int width = frames[0].width, height = frames[0].height;
    int64_t totalRows = int64_t(height) * count;
    int64_t rowsWanted = std::max<int64_t>(1, kSampleTarget / width);
    int64_t step = std::max<int64_t>(1, totalRows / rowsWanted);
    for (int64_t row = 0; row < totalRows; row += step) {
        const Frame& frame = frames[row / height];
        int y = int(row % height);
        SampleRow s{RowStart(frame, y), RowStart(frame, y > 0 ? y - 1 : y), RowStart(frame, y + 1 < height ? y + 1 : y),
                    width, frame.transparentKey};
        AddSampleRow(s, sample);
    }
}

struct WeightedColour {
    int32_t r, g, b;  // mean colour of the bin, in quarter levels
    uint32_t count;
};

std::vector<WeightedColour> OccupiedBins(const std::vector<FineBin>& fine) {
    std::vector<WeightedColour> points;
    for (const FineBin& bin : fine) {
        if (bin.count == 0) continue;
        uint32_t half = bin.count / 2;
        points.push_back(WeightedColour{int32_t((uint64_t(bin.r) * 4 + half) / bin.count),
                                        int32_t((uint64_t(bin.g) * 4 + half) / bin.count),
                                        int32_t((uint64_t(bin.b) * 4 + half) / bin.count), bin.count});
    }
    return points;
}

// The census as k-means points, in quarter levels like the bins.
std::vector<WeightedColour> CensusColours(const ExactCensus& census) {
    std::vector<WeightedColour> points;
    for (int slot = 0; slot < ExactCensus::kSlots; ++slot) {
        uint32_t c = census.colours[size_t(slot)];
        if (c == 0xFFFFFFFFu) continue;
        points.push_back(WeightedColour{int32_t(c >> 16 & 255) * 4, int32_t(c >> 8 & 255) * 4, int32_t(c & 255) * 4,
                                        census.weights[size_t(slot)]});
    }
    return points;
}

int WuSplit(Moments* m, int maxColours, Palette* palette) {
    Accumulate(&m->weight);
    Accumulate(&m->red);
    Accumulate(&m->green);
    Accumulate(&m->blue);
    Accumulate(&m->square);
    std::vector<Box> boxes(maxColours);
    std::vector<int64_t> variance(maxColours, 0);
    boxes[0] = Box{0, 32, 0, 32, 0, 32, 32 * 32 * 32};
    int made = 1, next = 0;
    while (made < maxColours) {
        if (SplitBox(&boxes[next], &boxes[made], *m)) {
            variance[next] = boxes[next].volume > 1 ? Variance(boxes[next], *m) : 0;
            variance[made] = boxes[made].volume > 1 ? Variance(boxes[made], *m) : 0;
            made++;
        } else {
            variance[next] = 0;
        }
        next = 0;
        for (int k = 1; k < made; ++k) {
            if (variance[k] > variance[next]) next = k;
        }
        if (variance[next] <= 0) break;
    }
    int size = 0;
    for (int k = 0; k < made; ++k) {
        int64_t w = Volume(boxes[k], m->weight);
        if (w <= 0) continue;
        palette->colours[size++] = Rgb{uint8_t((Volume(boxes[k], m->red) + w / 2) / w),
                                       uint8_t((Volume(boxes[k], m->green) + w / 2) / w),
                                       uint8_t((Volume(boxes[k], m->blue) + w / 2) / w)};
    }
    return size;
}

// The centres as 16-bit lanes for madd, four to a register: red and green pairs, then blue and zero
// pairs. Quarter levels, weighted, fit 16 bits; a weighted squared distance (below 2^23) with the
// index in the low 8 bits still fits 31, so the search is a plain minimum of keys. Padded to a
// multiple of four with copies of centre 0, which win no tie against it.
struct CentreLanes {
    int count;  // size rounded up to a multiple of 4
    int16_t redGreen[2 * 256];
    int16_t blueZero[2 * 256];
};

void FillCentreLanes(const int32_t* cr, const int32_t* cg, const int32_t* cb, int size, CentreLanes* lanes) {
    lanes->count = (size + 3) & ~3;
    for (int k = 0; k < lanes->count; ++k) {
        int from = k < size ? k : 0;
        lanes->redGreen[2 * k] = int16_t(cr[from]);
        lanes->redGreen[2 * k + 1] = int16_t(cg[from]);
        lanes->blueZero[2 * k] = int16_t(cb[from]);
        lanes->blueZero[2 * k + 1] = 0;
    }
}

inline __m128i MinimumKeys(__m128i a, __m128i b) {
    __m128i aLarger = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(aLarger, b), _mm_andnot_si128(aLarger, a));
}

// Index of the centre nearest to the point; ties go to the lowest index.
int NearestCentre(const WeightedColour& p, const CentreLanes& lanes) {
    __m128i pointRedGreen = _mm_set1_epi32(int32_t(uint32_t(uint16_t(p.g)) << 16 | uint16_t(p.r)));
    __m128i pointBlue = _mm_set1_epi32(int32_t(uint16_t(p.b)));
    __m128i indices = _mm_setr_epi32(0, 1, 2, 3);
    __m128i best = _mm_set1_epi32(INT32_MAX);
    const __m128i weightRedGreen = _mm_set1_epi32(kWeightGreen << 16 | kWeightRed);
    const __m128i weightBlue = _mm_set1_epi32(kWeightBlue);
    for (int k = 0; k < lanes.count; k += 4) {
        __m128i rg = _mm_sub_epi16(pointRedGreen, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.redGreen + 2 * k)));
        __m128i b = _mm_sub_epi16(pointBlue, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.blueZero + 2 * k)));
        __m128i distances = _mm_add_epi32(_mm_madd_epi16(rg, _mm_mullo_epi16(rg, weightRedGreen)),
                                          _mm_madd_epi16(b, _mm_mullo_epi16(b, weightBlue)));
        best = MinimumKeys(best, _mm_or_si128(_mm_slli_epi32(distances, 8), indices));
        indices = _mm_add_epi32(indices, _mm_set1_epi32(4));
    }
    best = MinimumKeys(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
    best = MinimumKeys(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(best) & 255;
}

// Sums of the points nearest to each centre, over one chunk of the points.
struct ClusterSums {
    int64_t r[256], g[256], b[256], weight[256];
};

// The points are split into this many chunks whatever the thread count; their sums are integers,
// so the result does not depend on which thread adds which chunk.
const int kKMeansChunks = 16;

void SumClusters(const WeightedColour* first, const WeightedColour* last, const CentreLanes& lanes, ClusterSums* sums) {
    std::memset(sums, 0, sizeof(*sums));
    for (const WeightedColour* p = first; p != last; ++p) {
        int k = NearestCentre(*p, lanes);
        sums->r[k] += int64_t(p->r) * p->count;
        sums->g[k] += int64_t(p->g) * p->count;
        sums->b[k] += int64_t(p->b) * p->count;
        sums->weight[k] += p->count;
    }
}

// The palette's colours in quarter levels, as k-means holds its centres.
void QuarterLevels(const Palette& palette, int32_t* cr, int32_t* cg, int32_t* cb) {
    for (int k = 0; k < palette.size; ++k) {
        cr[k] = palette.colours[k].r * 4;
        cg[k] = palette.colours[k].g * 4;
        cb[k] = palette.colours[k].b * 4;
    }
}

void KMeans(const std::vector<WeightedColour>& points, int passes, int threads, Palette* palette) {
    int size = palette->size;
    int32_t cr[256], cg[256], cb[256];
    QuarterLevels(*palette, cr, cg, cb);
    CentreLanes lanes;
    std::vector<ClusterSums> chunks(kKMeansChunks);
    for (int pass = 0; pass < passes; ++pass) {
        FillCentreLanes(cr, cg, cb, size, &lanes);
        RunParallel(threads, kKMeansChunks, [&](int chunk) {
            size_t first = points.size() * size_t(chunk) / kKMeansChunks;
            size_t last = points.size() * size_t(chunk + 1) / kKMeansChunks;
            SumClusters(points.data() + first, points.data() + last, lanes, &chunks[size_t(chunk)]);
        });
        int64_t sumR[256] = {}, sumG[256] = {}, sumB[256] = {}, weight[256] = {};
        for (const ClusterSums& c : chunks) {
            for (int k = 0; k < size; ++k) {
                sumR[k] += c.r[k];
                sumG[k] += c.g[k];
                sumB[k] += c.b[k];
                weight[k] += c.weight[k];
            }
        }
        bool moved = false;
        for (int k = 0; k < size; ++k) {
            if (weight[k] == 0) continue;  // keeps its colour; nothing is nearer to it
            int32_t r = int32_t((sumR[k] + weight[k] / 2) / weight[k]);
            int32_t g = int32_t((sumG[k] + weight[k] / 2) / weight[k]);
            int32_t b = int32_t((sumB[k] + weight[k] / 2) / weight[k]);
            moved = moved || r != cr[k] || g != cg[k] || b != cb[k];
            cr[k] = r;
            cg[k] = g;
            cb[k] = b;
        }
        if (!moved) break;
    }
    for (int k = 0; k < size; ++k) {
        palette->colours[k] = Rgb{uint8_t(std::min(255, (cr[k] + 2) >> 2)), uint8_t(std::min(255, (cg[k] + 2) >> 2)),
                                  uint8_t(std::min(255, (cb[k] + 2) >> 2))};
    }
}

const int kKMeansPasses = 16;  // measured: passes 9 to 16 still lower butteraugli by a few hundredths

// A graphic's colours that each hold at least 1/kHeavyShare of the weight get an entry of their
// own, up to half the palette.
const int kHeavyShare = 1000;

int HeavyColourCount(const std::vector<WeightedColour>& points, int maxColours) {
    uint64_t total = 0;
    for (const WeightedColour& p : points) total += p.count;
    int heavy = 0;
    for (const WeightedColour& p : points) heavy += uint64_t(p.count) * kHeavyShare >= total ? 1 : 0;
    return std::min(heavy, maxColours / 2);
}

// The palette as the maxColours heaviest points (ties to the lower colour, so the order of the
// points does not matter).
void StartWithHeaviest(std::vector<WeightedColour> points, int maxColours, Palette* palette) {
    auto heavier = [](const WeightedColour& a, const WeightedColour& b) {
        if (a.count != b.count) return a.count > b.count;
        return std::make_tuple(a.r, a.g, a.b) < std::make_tuple(b.r, b.g, b.b);
    };
    size_t size = std::min(points.size(), size_t(maxColours));
    std::partial_sort(points.begin(), points.begin() + ptrdiff_t(size), points.end(), heavier);
    palette->size = int(size);
    for (size_t k = 0; k < size; ++k) {
        palette->colours[k] = Rgb{uint8_t(points[k].r / 4), uint8_t(points[k].g / 4), uint8_t(points[k].b / 4)};
    }
}

// Moves each entry onto the exact colour that holds at least half of the weight nearest to it: a
// flat area then maps to its own colour, with no error for the dithering to spread.
void SnapToDominantColours(const std::vector<WeightedColour>& points, Palette* palette) {
    int32_t cr[256], cg[256], cb[256];
    QuarterLevels(*palette, cr, cg, cb);
    CentreLanes lanes;
    FillCentreLanes(cr, cg, cb, palette->size, &lanes);
    uint64_t total[256] = {};
    const WeightedColour* heaviest[256] = {};
    for (const WeightedColour& p : points) {
        int k = NearestCentre(p, lanes);
        total[k] += p.count;
        if (!heaviest[k] || p.count > heaviest[k]->count) heaviest[k] = &p;
    }
    for (int k = 0; k < palette->size; ++k) {
        const WeightedColour* h = heaviest[k];
        if (!h || uint64_t(h->count) * 2 < total[k]) continue;
        palette->colours[k] = Rgb{uint8_t(h->r / 4), uint8_t(h->g / 4), uint8_t(h->b / 4)};
    }
}

}  // namespace

bool CollectExactColours(const Frame* frames, int count, int maxColours, Palette* palette) {
    ColourSet set;
    std::memset(set.slots, 0xFF, sizeof(set.slots));
    set.size = 0;
    uint32_t last = 0xFFFFFFFFu;
    for (int f = 0; f < count; ++f) {
        const uint32_t key = uint32_t(frames[f].transparentKey);
        for (int y = 0; y < frames[f].height; ++y) {
            const uint8_t* row = RowStart(frames[f], y);
            for (int x = 0; x < frames[f].width; ++x) {
                uint32_t colour = PackedColour(row + 3 * x);
                if (colour == last || colour == key) continue;
                if (!InsertColour(&set, colour, maxColours)) return false;
                last = colour;
            }
        }
    }
    // Sorted, so the palette does not depend on where in the picture each colour first appears.
    std::vector<uint32_t> colours;
    for (uint32_t slot : set.slots) {
        if (slot != 0xFFFFFFFFu) colours.push_back(slot);
    }
    std::sort(colours.begin(), colours.end());
    palette->size = int(colours.size());
    for (size_t k = 0; k < colours.size(); ++k) {
        palette->colours[k] = Rgb{uint8_t(colours[k] >> 16), uint8_t(colours[k] >> 8), uint8_t(colours[k])};
    }
    return true;
}

bool BuildQuantisedPalette(const Frame* frames, int count, int maxColours, int threads, Palette* palette) {
    Sample sample;
    TakeSample(frames, count, &sample);
    if (sample.census.overflowed) {
        palette->size = WuSplit(&sample.coarse, maxColours, palette);
        KMeans(OccupiedBins(sample.fine), kKMeansPasses, threads, palette);
        return false;
    }
    // A graphic: its heaviest colours (Wu's boxes, 8 levels wide, would merge steps between them)
    // and Wu's split for the rest, refined, then moved back onto the colours that dominate.
    std::vector<WeightedColour> points = CensusColours(sample.census);
    StartWithHeaviest(points, HeavyColourCount(points, maxColours), palette);
    Palette rest;
    rest.size = WuSplit(&sample.coarse, maxColours - palette->size, &rest);
    std::copy(rest.colours, rest.colours + rest.size, palette->colours + palette->size);
    palette->size += rest.size;
    KMeans(points, kKMeansPasses, threads, palette);
    SnapToDominantColours(points, palette);
    return true;
}

}  // namespace detail
}  // namespace gif

// The GIF encoder's inner parts on their own: the nearest-colour pairs behind the dithering, and
// an LZW image encoded in steps while its pixels are still being mapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <vector>

#include "imaging/gif/gif_lzw.h"
#include "imaging/gif/gif_nearest.h"

namespace {

using namespace gif::detail;

// ---- Centre map.

Palette RandomPalette(int size, unsigned seed) {
    std::mt19937 random(seed);
    Palette palette{};
    palette.size = size;
    for (int k = 0; k < size; ++k) {
        palette.colours[k] = Rgb{uint8_t(random()), uint8_t(random()), uint8_t(random())};
    }
    return palette;
}

// Weighted squared distance, in half levels, from the centre of 4-level cell `cell` to a palette colour.
int CentreDistance(int cell, const Rgb& c) {
    return WeightedDistance(8 * (cell >> 12) + 3 - 2 * c.r, 8 * ((cell >> 6) & 63) + 3 - 2 * c.g,
                            8 * (cell & 63) + 3 - 2 * c.b);
}

bool SameColour(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

int SquaredDistance(int r, int g, int b, const Rgb& c) { return WeightedDistance(r - c.r, g - c.g, b - c.b); }

int ExactNearest(const Palette& palette, int r, int g, int b) {
    int nearest = 0;
    for (int k = 1; k < palette.size; ++k) {
        if (SquaredDistance(r, g, b, palette.colours[k]) < SquaredDistance(r, g, b, palette.colours[nearest])) nearest = k;
    }
    return nearest;
}

struct PaletteCase {
    const char* name;
    Palette palette;
    int cellStep;          // every cell for small palettes; a spread sample for large ones
    int minExactPercent;   // of colours whose nearer of the pair is the exact nearest
};

void PrintTo(const PaletteCase& c, std::ostream* os) { *os << c.name; }

class GifCentreMapPairs : public testing::TestWithParam<PaletteCase> {};

CentreMap MapOf(const Palette& palette) {
    NearestGrid grid;
    BuildNearestGrid(palette, palette.size, 2, &grid);
    CentreMap map;
    BuildCentreMap(grid, 2, &map);
    return map;
}

// The first of each pair is the exact nearest entry to the cell's centre (lowest index on a tie).
TEST_P(GifCentreMapPairs, FirstIsTheNearestEntryToEachCellsCentre) {
    const Palette& palette = GetParam().palette;
    CentreMap map = MapOf(palette);
    ASSERT_EQ(map.cells.size(), size_t(64 * 64 * 64));
    for (int cell = 0; cell < 64 * 64 * 64; cell += GetParam().cellStep) {
        int first = map.cells[cell] & 255, second = map.cells[cell] >> 8;
        ASSERT_LT(second, palette.size);
        int nearest = 0;
        for (int k = 1; k < palette.size; ++k) {
            if (CentreDistance(cell, palette.colours[k]) < CentreDistance(cell, palette.colours[nearest])) nearest = k;
        }
        ASSERT_EQ(first, nearest) << "cell " << cell;
        if (second != first) {
            EXPECT_FALSE(SameColour(palette.colours[second], palette.colours[first])) << "cell " << cell;
        }
    }
}

// What the dithering takes, the nearer of the pair, is the exact nearest for nearly every colour
// (less often only where entries crowd closer than a cell's width), and never more than the cell's
// reach (twice its weighted half diagonal, 2 * sqrt(8 * 1.5^2) = 8.5) farther from it.
TEST_P(GifCentreMapPairs, NearerOfThePairIsAlmostAlwaysTheExactNearest) {
    const Palette& palette = GetParam().palette;
    CentreMap map = MapOf(palette);
    std::mt19937 random(5);
    int samples = 20000, exact = 0;
    for (int n = 0; n < samples; ++n) {
        int r = int(random() % 256), g = int(random() % 256), b = int(random() % 256);
        uint16_t pair = map.cells[CentreMapCell(r, g, b)];
        const Rgb& first = palette.colours[pair & 255];
        const Rgb& second = palette.colours[pair >> 8];
        int chosen = std::min(SquaredDistance(r, g, b, first), SquaredDistance(r, g, b, second));
        int best = SquaredDistance(r, g, b, palette.colours[ExactNearest(palette, r, g, b)]);
        exact += chosen == best;
        ASSERT_LE(std::sqrt(double(chosen)), std::sqrt(double(best)) + 8.5) << r << " " << g << " " << b;
    }
    EXPECT_GE(exact, samples / 100 * GetParam().minExactPercent);
}

Palette RepeatedColours() {
    Palette palette = RandomPalette(12, 7);
    palette.colours[5] = palette.colours[2];  // the later copy never wins
    palette.colours[11] = palette.colours[0];
    return palette;
}

Palette GreyRamp() {
    Palette palette{};
    palette.size = 256;
    for (int k = 0; k < 256; ++k) palette.colours[k] = Rgb{uint8_t(k), uint8_t(k), uint8_t(k)};
    return palette;
}

INSTANTIATE_TEST_SUITE_P(Palettes, GifCentreMapPairs,
                         testing::Values(PaletteCase{"OneColour", RandomPalette(1, 1), 1, 100},
                                         PaletteCase{"ThreeColours", RandomPalette(3, 2), 1, 99},
                                         PaletteCase{"RepeatedColours", RepeatedColours(), 1, 99},
                                         PaletteCase{"Random256", RandomPalette(256, 3), 61, 99},
                                         // Green weighs 5, so a cell reaches farther among entries a level apart.
                                         PaletteCase{"GreyRampOneLevelApart", GreyRamp(), 59, 75}),
                         [](const testing::TestParamInfo<PaletteCase>& info) { return std::string(info.param.name); });

// ---- LZW in steps.

struct LzwScratch {
    std::vector<uint16_t> children = std::vector<uint16_t>(kLzwChildEntries, 0);
    std::vector<uint32_t> slots = std::vector<uint32_t>(kLzwCodes, 0);
    std::unique_ptr<LzwImage> image{new LzwImage};
};

// Encodes one image, handing ContinueLzwImage `step` more ready pixels at a time.
std::vector<uint8_t> EncodeInSteps(const LzwInput& pattern, size_t step, LzwScratch* scratch) {
    std::vector<uint8_t> out;
    SinkWriter writer;
    InitSinkWriter(&writer, gif::VectorSink(&out));
    LzwInput input = pattern;
    input.tables = LzwTables{scratch->children.data(), scratch->slots.data()};
    StartLzwImage(input, &writer, scratch->image.get());
    for (size_t ready = step; ready < input.pixelCount; ready += step) ContinueLzwImage(scratch->image.get(), ready);
    ContinueLzwImage(scratch->image.get(), input.pixelCount);
    Flush(&writer);
    return out;
}

// Indices like a dithered frame over the one before: short runs of equal pixels, long enough to
// fill the code table many times, with patches where the frame repeats the one before.
void DrawIndices(size_t count, std::vector<uint8_t>* shown, std::vector<uint8_t>* previous) {
    std::mt19937 random(11);
    shown->resize(count);
    previous->resize(count);
    for (size_t i = 0; i < count; ++i) {
        (*previous)[i] = uint8_t(random() % 40);
        bool repeats = (i / 300) % 3 == 0 || random() % 4 == 0;
        (*shown)[i] = repeats ? (*previous)[i] : uint8_t(random() % 40);
    }
}

TEST(GifLzwInSteps, AnyStepsGiveTheBytesOfOneGoAndLeaveTheTableEmpty) {
    std::vector<uint8_t> shown, previous;
    for (size_t count : {size_t(1), size_t(3), size_t(5000), size_t(100003)}) {
        DrawIndices(count, &shown, &previous);
        LzwInput input{shown.data(), previous.data(), 40, count, 6, LzwTables{}};
        LzwScratch scratch;
        std::vector<uint8_t> whole = EncodeInSteps(input, count, &scratch);
        ASSERT_GT(whole.size(), 2u);
        EXPECT_EQ(whole.front(), 6) << "the minimum code size comes first";
        EXPECT_EQ(whole.back(), 0) << "and the empty block last";
        for (size_t step : {size_t(1), size_t(2), size_t(4), size_t(977), size_t(4096), size_t(4099)}) {
            if (step >= count && count > 1) continue;
            EXPECT_EQ(EncodeInSteps(input, step, &scratch), whole) << count << " pixels in steps of " << step;
        }
        for (uint16_t child : scratch.children) ASSERT_EQ(child, 0) << count << " pixels";
    }
}

}  // namespace

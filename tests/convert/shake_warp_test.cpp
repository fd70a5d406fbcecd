// The warp arithmetic against worked values: the random sequence, RandomBelow, the shake amounts,
// the mesh and the redraw of a frame.
#include <gtest/gtest.h>

#include <set>

#include "convert/shake_warp.h"
#include "tests/support/image_operations_double.h"
#include "tests/support/reference_warp.h"

namespace {

uint32_t StateAfter(uint32_t state, int draws) {
    for (int i = 0; i < draws; ++i) state = state * 214013u + 2531011u;
    return state;
}

TEST(RandomSequence, StartsFromStateOneWithTheKnownValues) {
    randomSequenceState = 1;
    const int32_t expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int32_t value : expected) EXPECT_EQ(NextRandomValue(), value);
}

TEST(RandomBelow, ScalesTheNextValueWithTruncationTowardZero) {
    struct Case {
        int32_t n;
        int32_t expected;  // with the value 18467, the second of the sequence
    } cases[] = {
        {4, 2},         // 73868 / 32768 = 2.25
        {1, 0},         // always 0
        {0, 0},
        {8, 4},         // 4.5
        {32768, 18467},
        {-3, -1},       // -55401 / 32768 = -1.69, toward zero
        {-1, 0},
        {2147483647, 65535},  // 18467 * (2^31 - 1) wraps to 2^31 - 18467
        {1 << 20, static_cast<int32_t>(18467u << 20) / 32768},  // wraps: negative result
    };
    for (const Case& c : cases) {
        randomSequenceState = 1;
        NextRandomValue();
        EXPECT_EQ(RandomBelow(c.n), c.expected) << "n = " << c.n;
        EXPECT_EQ(NextRandomValue(), 6334) << "exactly one value taken, n = " << c.n;
    }
    EXPECT_LT(static_cast<int32_t>(18467u << 20) / 32768, 0);
}

TEST(ShakeAmounts, FollowTheSideSixteenthsTimesPercent) {
    struct Case {
        int32_t width, height, percent, x, y;
    } cases[] = {
        {640, 480, 20, 8, 6},     {100, 100, 20, 1, 1},  {15, 15, 20, 1, 1},   {1000, 10, 7, 4, 1},
        {800, 600, -20, -10, -7}, {159, 160, 20, 1, 2},  {239, 240, 20, 2, 3}, {640, 480, 0, 1, 1},
        // (62500 * 100000) wraps to 1955032704 before the division by 100.
        {1000000, 16, 100000, 19550327, 1000},
    };
    for (const Case& c : cases) {
        ShakeAmounts a = ComputeShakeAmounts(c.width, c.height, c.percent);
        EXPECT_EQ(a.horizontal, c.x) << c.width << "x" << c.height << " at " << c.percent;
        EXPECT_EQ(a.vertical, c.y) << c.width << "x" << c.height << " at " << c.percent;
    }
}

TEST(ShakeMesh, TakesFiveHundredTenValuesAndMatchesHandWorkedPoints) {
    randomSequenceState = 1;
    ShakeMesh mesh;
    BuildShakeMesh(&mesh, 640, 480, 8, 6);
    EXPECT_EQ(randomSequenceState, StateAfter(1, 510));
    // Row 0 takes horizontal draws only: 41 -> RandomBelow(8) = 0, 18467 -> 4, 6334 -> 1.
    EXPECT_EQ(mesh.jitteredX[1][0], 0 + 40 - 4);
    EXPECT_EQ(mesh.jitteredX[2][0], 4 + 80 - 4);
    EXPECT_EQ(mesh.jitteredX[3][0], 1 + 120 - 4);
    const int32_t regular100[17] = {0, 6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, 87, 93, 100};
    BuildShakeMesh(&mesh, 100, 100, 1, 1);
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(mesh.regularX[k][5], regular100[k]);
        EXPECT_EQ(mesh.regularY[5][k], regular100[k]);
    }
}

TEST(ShakeMesh, KeepsCornersFixedAndEdgesOnTheirAxis) {
    randomSequenceState = 7;
    ShakeMesh mesh;
    BuildShakeMesh(&mesh, 640, 480, 40, 30);
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(mesh.jitteredY[i][0], 0);      // top edge moves only horizontally
        EXPECT_EQ(mesh.jitteredY[i][16], 480);   // bottom edge, one beyond the last row
        EXPECT_EQ(mesh.jitteredX[0][i], 0);      // left edge moves only vertically
        EXPECT_EQ(mesh.jitteredX[16][i], 640);
    }
    int moved = 0;
    for (int k = 1; k < 16; ++k)
        for (int j = 1; j < 16; ++j) {
            int32_t dx = mesh.jitteredX[k][j] - mesh.regularX[k][j];
            int32_t dy = mesh.jitteredY[k][j] - mesh.regularY[k][j];
            EXPECT_TRUE(dx >= -20 && dx <= 19) << dx;
            EXPECT_TRUE(dy >= -15 && dy <= 14) << dy;
            moved += (dx != 0 || dy != 0);
        }
    EXPECT_GT(moved, 200);
}

TEST(ShakeMesh, GridTilesEvenTheWidestPicture) {
    // 200 million x 16 fits a 24-bit DIB; width * k must not wrap into negative grid lines,
    // which would send the warp's writes outside the frame.
    ShakeMesh mesh;
    BuildShakeMesh(&mesh, 200000000, 16, 1, 1);
    for (int k = 0; k < 17; ++k) EXPECT_EQ(mesh.regularX[k][0], static_cast<int32_t>(200000000LL * k / 16)) << k;
    EXPECT_EQ(mesh.regularX[16][9], 200000000);
}

TEST(ShakeMesh, ClampsEveryAmountIntoThePicture) {
    const int32_t amounts[] = {-1, -3, -20, 2, 1 << 20, -(1 << 20), 2147483647, INT32_MIN};
    for (int32_t amount : amounts) {
        randomSequenceState = 12345;
        ShakeMesh mesh;
        BuildShakeMesh(&mesh, 50, 30, amount, amount);
        EXPECT_EQ(randomSequenceState, StateAfter(12345, 510)) << amount;
        for (int k = 1; k < 16; ++k)
            for (int j = 1; j < 16; ++j) {
                EXPECT_TRUE(mesh.jitteredX[k][j] >= 0 && mesh.jitteredX[k][j] <= 49) << amount;
                EXPECT_TRUE(mesh.jitteredY[k][j] >= 0 && mesh.jitteredY[k][j] <= 29) << amount;
            }
        if (amount == -1) {  // every movable coordinate moves by exactly +1, clamped at the far edge
            EXPECT_EQ(mesh.jitteredX[3][4], mesh.regularX[3][4] + 1);
            EXPECT_EQ(mesh.jitteredY[3][4], mesh.regularY[3][4] + 1);
            EXPECT_EQ(mesh.jitteredX[15][0], mesh.regularX[15][0] + 1);
        }
    }
}

uint32_t Pattern(int32_t x, int32_t y) { return static_cast<uint32_t>(x * 7 + 1) | static_cast<uint32_t>(y * 13 + 2) << 8 | 0x550000u; }

class Warp : public ::testing::Test {
  protected:
    void SetUp() override { ResetImageOpsDouble(); }
    void TearDown() override { ResetImageOpsDouble(); }

    // Warps a width x height picture once with the given amounts into a copy whose bytes start at 0xEE.
    DoubleImage* WarpOnce(int32_t width, int32_t height, int32_t amountX, int32_t amountY) {
        source = AddDoubleImage(width, height, Pattern);
        copy = AddDoubleImage(width, height, Pattern);
        std::fill(DoubleImageOf(copy)->pixels.begin(), DoubleImageOf(copy)->pixels.end(), 0xEE);
        ShakeMesh mesh;
        BuildShakeMesh(&mesh, width, height, amountX, amountY);
        WarpFrame(kRecordingImageOperations, &mesh, source, width, height, copy);
        return DoubleImageOf(copy);
    }
    ImageHandle source = 0, copy = 0;
};

// A colour that names its own place: red the column, green the row (both below 256), blue 0x55.
uint32_t Coordinates(int32_t x, int32_t y) { return static_cast<uint32_t>(x) | static_cast<uint32_t>(y) << 8 | 0x550000u; }

// The source pixel that frame pixel (x, y) was drawn from, read back from a Coordinates colour.
std::pair<int32_t, int32_t> SourceOf(const DoubleImage* frame, int32_t x, int32_t y) {
    const uint8_t* p = frame->pixels.data() + imaging::DibStride(frame->width) * (frame->height - 1 - y) + 3 * x;
    EXPECT_EQ(p[0], 0x55) << "frame pixel " << x << "," << y << " holds no source colour";
    return {p[2], p[1]};
}

TEST_F(Warp, WithoutJitterCopiesEveryPixelOnceAndLeavesThePadding) {
    const int32_t sizes[][2] = {{1, 1}, {5, 3}, {17, 9}, {64, 48}, {31, 200}};
    for (auto& size : sizes) {
        ResetImageOpsDouble();
        DoubleImage* frame = WarpOnce(size[0], size[1], 1, 1);
        DoubleImage* original = DoubleImageOf(source);
        const int64_t stride = imaging::DibStride(size[0]);
        for (int32_t row = 0; row < size[1]; ++row) {
            for (int64_t b = 0; b < stride; ++b) {
                uint8_t got = frame->pixels[row * stride + b];
                if (b < 3 * size[0])
                    EXPECT_EQ(got, original->pixels[row * stride + b]) << "row " << row << " byte " << b;
                else
                    EXPECT_EQ(got, 0xEE) << "padding written, row " << row << " byte " << b;
            }
        }
        // The copy's record first, then the source's, whose pixel array the warp reads directly.
        EXPECT_EQ(imageOps.calls, (std::vector<std::string>{"info " + std::to_string(copy), "info " + std::to_string(source)}));
    }
}

TEST_F(Warp, OnePixelAndFivePixelWidePicturesDrawEveryPixelFromItsOwnPlace) {
    // A 1 x 1 picture has one non-empty cell; 5 pixels wide, only the cell columns 3, 6, 9, 12
    // and 15 (and of 2 rows, the cell rows 7 and 15) are not empty, one pixel each.
    for (auto size : {std::make_pair(1, 1), std::make_pair(5, 2)}) {
        ResetImageOpsDouble();
        source = AddDoubleImage(size.first, size.second, Coordinates);
        copy = AddDoubleImage(size.first, size.second, [](int32_t, int32_t) { return 0xEEEEEEu; });
        ShakeMesh mesh;
        BuildShakeMesh(&mesh, size.first, size.second, 1, 1);
        WarpFrame(kRecordingImageOperations, &mesh, source, size.first, size.second, copy);
        for (int32_t y = 0; y < size.second; ++y)
            for (int32_t x = 0; x < size.first; ++x) EXPECT_EQ(SourceOf(DoubleImageOf(copy), x, y), std::make_pair(x, y));
    }
}

TEST_F(Warp, StrongShakeWritesEveryPixelFromInsideTheSource) {
    for (int32_t amount : {40, 400, -400, 1 << 24}) {
        ResetImageOpsDouble();
        randomSequenceState = 99;
        source = AddDoubleImage(37, 23, Coordinates);
        copy = AddDoubleImage(37, 23, Coordinates);
        std::fill(DoubleImageOf(copy)->pixels.begin(), DoubleImageOf(copy)->pixels.end(), 0xEE);
        ShakeMesh mesh;
        BuildShakeMesh(&mesh, 37, 23, amount, amount);
        WarpFrame(kRecordingImageOperations, &mesh, source, 37, 23, copy);
        for (int32_t y = 0; y < 23; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                const auto from = SourceOf(DoubleImageOf(copy), x, y);
                EXPECT_TRUE(from.first < 37 && from.second < 23) << amount;
            }
        }
        EXPECT_EQ(DoubleImageOf(copy)->pixels[imaging::DibStride(37) - 1], 0xEE);  // padding
    }
}

TEST_F(Warp, FoldedCellSamplesBackwardsWithTruncationTowardZero) {
    // 48 x 16: every cell is 3 x 1. Fold the top-left cell so that R - L = -5 across its row.
    source = AddDoubleImage(48, 16, Coordinates);
    copy = AddDoubleImage(48, 16, Coordinates);
    ShakeMesh mesh;
    BuildShakeMesh(&mesh, 48, 16, 1, 1);
    mesh.jitteredX[0][0] = 10;
    mesh.jitteredX[1][0] = 5;
    WarpFrame(kRecordingImageOperations, &mesh, source, 48, 16, copy);
    EXPECT_EQ(SourceOf(DoubleImageOf(copy), 0, 0), std::make_pair(10, 0));
    EXPECT_EQ(SourceOf(DoubleImageOf(copy), 1, 0), std::make_pair(9, 0));  // -5 / 3 = -1
    EXPECT_EQ(SourceOf(DoubleImageOf(copy), 2, 0), std::make_pair(7, 0));  // -10 / 3 = -3
}

TEST_F(Warp, MatchesTheFormulasComputedDirectly) {
    struct Case {
        int32_t width, height, amount;
    } cases[] = {{640, 480, 8}, {333, 77, 40}, {97, 1000, -30}, {50, 50, 1 << 20}, {1, 300, 5},
                 // Cells 43125 pixels wide with points flung to both edges: c * (R - L) leaves 32
                 // bits, and must not wrap into samples outside the source.
                 {690000, 1, 1 << 24}};
    for (const Case& c : cases) {
        ResetImageOpsDouble();
        randomSequenceState = static_cast<uint32_t>(c.width);
        source = AddDoubleImage(c.width, c.height, Pattern);
        copy = AddDoubleImage(c.width, c.height, Pattern);
        ShakeMesh mesh;
        BuildShakeMesh(&mesh, c.width, c.height, c.amount, c.amount);
        std::vector<uint8_t> expected =
            ReferenceWarp(ReadDoublePixel, mesh, source, c.width, c.height, DoubleImageOf(copy)->pixels);
        WarpFrame(kRecordingImageOperations, &mesh, source, c.width, c.height, copy);
        EXPECT_TRUE(DoubleImageOf(copy)->pixels == expected) << c.width << "x" << c.height << " shaken by " << c.amount;
        for (const std::string& call : imageOps.calls) EXPECT_EQ(call.rfind("pixel outside", 0), std::string::npos) << call;
    }
}

}  // namespace

// Small hostile files through the whole conversion, each in a process of its own (the probe,
// convert_probe.cpp): padded headers claiming huge pictures, scans cut short, wrappers, special
// files, names near 255 bytes. Each must end with the expected code and reason, within a small
// peak of memory, and leave no GIF and no temporary file when refused. The multi-gigabyte
// versions of these files live in scripts/stress-hostile, not here.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "imaging/imaging.h"
#include "tests/imaging/crafted_files.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;
using imaging::Failure;

// A refused file costs the probe's own few MB (a Wine process some tens); a decoder that took
// the claimed picture would take gigabytes.
constexpr uint64_t kPeakLimit = uint64_t(160) << 20;

struct ProbeResult {
    int code = -2;  // -2: the probe did not answer
    int failure = -1;
    int32_t width = 0, height = 0;
    uint64_t needed = 0, peak = 0;
};

ProbeResult RunProbe(const std::string& options, const std::string& path) {
    std::string command = "\"" + ToPlatformPath(WOBZY_PROBE) + "\" " + options + " \"" + path + "\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe takes the outer quotes off
    std::FILE* probe = _popen(command.c_str(), "r");
#else
    std::FILE* probe = popen(command.c_str(), "r");
#endif
    ProbeResult result;
    if (probe == nullptr) return result;
    char line[512] = {};
    if (std::fgets(line, sizeof line, probe) != nullptr) {
        std::sscanf(line, "code=%d failure=%d width=%" SCNd32 " height=%" SCNd32 " needed=%" SCNu64 " peak=%" SCNu64,
                    &result.code, &result.failure, &result.width, &result.height, &result.needed, &result.peak);
    }
#ifdef _WIN32
    _pclose(probe);
#else
    pclose(probe);
#endif
    return result;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) { return !bytes.empty() && WriteFile(path, bytes); }

struct HostileCase {
    const char* name;
    std::string fileName;
    std::function<bool(const std::string& path)> make;
    const char* options;  // for the probe
    int code;             // the conversion's failure code; -1: converted
    Failure failure;
    int32_t width, height;  // kTooLarge: the size claimed
};

std::ostream& operator<<(std::ostream& out, const HostileCase& c) { return out << c.name; }

std::function<bool(const std::string&)> Writes(std::function<Bytes()> make) {
    return [make](const std::string& path) { return WriteBytes(path, make()); };
}

class HostileFile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFile, EndsAsExpectedWithinASmallPeakAndLeavesNothing) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const HostileCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(c.fileName);
    ASSERT_TRUE(c.make(path)) << "could not make " << c.fileName;
    const ProbeResult result = RunProbe(c.options, path);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.failure, int(c.failure));
    if (c.failure == Failure::kTooLarge) {
        EXPECT_EQ(result.width, c.width);
        EXPECT_EQ(result.height, c.height);
        EXPECT_EQ(result.needed, imaging::ConversionBytes(c.width, c.height));
    }
    EXPECT_GT(result.peak, 0u);
    EXPECT_LT(result.peak, kPeakLimit) << "peak bytes";
    std::vector<std::string> expected = {c.fileName};
    if (c.code == -1) expected.push_back(c.fileName + "_wob.gif");
    EXPECT_EQ(dir.names(), expected);
}

std::vector<HostileCase> Cases() {
    std::vector<HostileCase> cases = {
        {"padded GIF on a 26000 x 26000 screen", "screen.gif", Writes([] { return PaddedGifOnScreen(26000, 26000, 700000); }),
         "", 0, Failure::kTooLarge, 26000, 26000},
        {"JPEG frame claiming 16384 x 16384 over a small scan", "claim.jpg", Writes([] { return SnakeJpegClaiming(16384, 16384); }),
         "", 0, Failure::kTooLarge, 16384, 16384},
        {"PNG claiming 20000 x 20000", "claim.png", Writes([] { return PngClaiming(20000, 20000); }),
         "", 0, Failure::kTooLarge, 20000, 20000},
        {"HEIF extent of 16384 x 16384", "claim.avif", Writes([] { return HeifClaiming(16384, 16384); }),
         "", 0, Failure::kTooLarge, 16384, 16384},
        {"QuickTime image of a GIF on a 60000 x 60000 screen (found by fuzzing)", "screen.qtif",
         Writes([] { return QuickTimeImage(PaddedGifOnScreen(60000, 60000, 0)); }), "", 0, Failure::kTooLarge, 60000, 60000},
        {"the photo beyond a lowered memory limit", "snake.png", Writes([] { Bytes b; ReadFile(TestData("snake/snake.png"), &b); return b; }),
         "--memory 8000000", 0, Failure::kTooLarge, 600, 450},
        {"arithmetic-coded JPEG", "arithmetic.jpg", Writes([] { Bytes b; ReadFile(TestData("photo/snake-arithmetic.jpg"), &b); return b; }),
         "", -1, Failure::kNone, 0, 0},
        {"name of 247 bytes, GIF name of 255", std::string(247, 'n'), Writes([] { return MakeBmp(8, 8, DistinctColour); }),
         "", -1, Failure::kNone, 0, 0},
        {"a folder", "folder.png", [](const std::string& path) { return CreateFolder(path); }, "", 0, Failure::kIsFolder, 0, 0},
        // Damage a decoder pads out without a word: refused by libjpeg-turbo's warnings on Linux and
        // by the scan check before WIC on Windows.
        {"JPEG scan cut at 40 % and ended", "cut.jpg", Writes([] { return JpegScanCut("snake/snake.jpg", 0.4); }),
         "", 0, Failure::kDamaged, 0, 0},
        {"progressive JPEG ended after 3 scans", "scans.jpg", Writes([] { return JpegEndedAfterScans("photo/snake-progressive.jpg", 3); }),
         "", 0, Failure::kDamaged, 0, 0},
        {"sequential JPEG ended before its last component's scan", "components.jpg",
         Writes([] { return JpegEndedAfterScans("photo/snake-three-scans.jpg", 2); }), "", 0, Failure::kDamaged, 0, 0},
#ifndef _WIN32
        // Formats Wine's codecs do not read (cursors, SVG, QuickTime).
        {"cursor whose hotspot y is 0", "hotspot.cur", Writes(CursorWithHotspotYZero), "", -1, Failure::kNone, 0, 0},
        {"SVG of 30000 x 30000", "claim.svg", Writes([] { return SvgClaiming(30000, 30000); }),
         "", 0, Failure::kTooLarge, 30000, 30000},
        {"XPM whose size stands after a comment holding a quote (found by fuzzing)", "comment.xpm",
         Writes([] {
             const std::string xpm = "/* XPM */\nstatic char* p[] = {\n/* a \"comment\" */\n\"41474 21474 1 1\",\n\"x c red\",\n};\n";
             return Bytes(xpm.begin(), xpm.end());
         }),
         "", 0, Failure::kTooLarge, 41474, 21474},
        {"SVG that renders for minutes", "slow.svg", Writes([] { return SlowSvg(400); }), "--seconds 1", 0, Failure::kTimedOut, 0, 0},
        {"QuickTime image of a JPEG cut to 88 %", "cut.qtif", Writes([] { return QuickTimeJpeg("snake/snake.jpg", 0.88); }),
         "", 0, Failure::kDamaged, 0, 0},
        {"QuickTime image of a whole JPEG", "whole.qtif", Writes([] { return QuickTimeJpeg("snake/snake.jpg", 1.0); }),
         "", -1, Failure::kNone, 0, 0},
        {"FIFO named like a picture", "pipe.png", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; },
         "", 0, Failure::kNotAFile, 0, 0},
#endif
    };
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, HostileFile, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return ParamName(info.param.name); });

}  // namespace

// The JPEG scan check (jpeg_scans.h) on the test photos, whole and damaged in every way a scan
// can be (cut, invalid codes, restart markers out of order, scans or bands missing), on codings
// it leaves to the decoder, and on tiny hand-made progressive frames whose refinement bits
// depend on which coefficients earlier scans made nonzero.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "imaging/jpeg_scans.h"
#include "tests/imaging/crafted_files.h"
#include "tests/imaging/test_support.h"

namespace {

using namespace testing_support;
using imaging::detail::JpegScanReport;
using imaging::detail::JpegScanVerdict;

JpegScanReport Check(const Bytes& bytes) {
    JpegScanReport report;
    WithBytesInFile(bytes, [&](std::FILE* in) {
        ASSERT_NE(in, nullptr);
        report = imaging::detail::CheckJpegScans(in, bytes.size());
    });
    return report;
}

Bytes Photo(const std::string& relative) {
    Bytes bytes;
    return ReadFile(TestData(relative), &bytes) ? bytes : Bytes{};
}

// ---- A JPEG as its segments, to take apart and put together again ----

struct Segment {
    uint8_t marker = 0;
    Bytes payload;  // after the length field
    Bytes data;     // a scan's entropy-coded data, restart markers included
};

bool StandsAlone(uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

// The segments between SOI and EOI; empty when the bytes do not parse.
std::vector<Segment> Split(const Bytes& jpeg) {
    std::vector<Segment> segments;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xD9) {
        Segment segment;
        segment.marker = jpeg[at + 1];
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (StandsAlone(segment.marker) || length < 2 || at + 2 + length > jpeg.size()) return {};
        segment.payload.assign(jpeg.begin() + ptrdiff_t(at + 4), jpeg.begin() + ptrdiff_t(at + 2 + length));
        at += 2 + length;
        if (segment.marker == 0xDA) {
            const size_t start = at;
            while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 && !StandsAlone(jpeg[at + 1]))) ++at;
            segment.data.assign(jpeg.begin() + ptrdiff_t(start), jpeg.begin() + ptrdiff_t(at));
        }
        segments.push_back(segment);
    }
    return segments;
}

Bytes Join(const std::vector<Segment>& segments, bool endOfImage = true) {
    Bytes out = {0xFF, 0xD8};
    for (const Segment& segment : segments) {
        const size_t length = segment.payload.size() + 2;
        out.insert(out.end(), {0xFF, segment.marker, uint8_t(length >> 8), uint8_t(length)});
        out.insert(out.end(), segment.payload.begin(), segment.payload.end());
        out.insert(out.end(), segment.data.begin(), segment.data.end());
    }
    if (endOfImage) out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// Index of the n-th (0-based; negative from the end) segment with `marker`.
size_t Find(const std::vector<Segment>& segments, uint8_t marker, int n = 0) {
    std::vector<size_t> found;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].marker == marker) found.push_back(i);
    }
    const int index = n < 0 ? int(found.size()) + n : n;
    return index >= 0 && index < int(found.size()) ? found[size_t(index)] : segments.size();
}

// `photo` with `edit` applied to its segments; empty when the photo or the edit's target is missing.
Bytes Edited(const std::string& photo, const std::function<bool(std::vector<Segment>&)>& edit, bool endOfImage = true) {
    std::vector<Segment> segments = Split(Photo(photo));
    return !segments.empty() && edit(segments) ? Join(segments, endOfImage) : Bytes{};
}

// Edits the n-th segment with `marker` (see Find).
std::function<bool(std::vector<Segment>&)> OnSegment(uint8_t marker, int n, const std::function<void(Segment&)>& edit) {
    return [=](std::vector<Segment>& segments) {
        const size_t i = Find(segments, marker, n);
        if (i == segments.size()) return false;
        edit(segments[i]);
        return true;
    };
}

// Where the n-th restart marker of a scan's data stands.
size_t RestartMarker(const Bytes& data, int n) {
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0xFF && data[i + 1] >= 0xD0 && data[i + 1] <= 0xD7 && n-- == 0) return i;
    }
    return data.size();
}

// 48 one bits (stuffed) in the middle of a scan's data: longer than any code, so they begin none.
void InvalidCodeInMiddle(Segment& scan) {
    const size_t middle = scan.data.size() / 2 & ~size_t(1);
    for (size_t i = 0; i < 12; i += 2) {
        scan.data[middle + i] = 0xFF;
        scan.data[middle + i + 1] = 0x00;
    }
}

void CutData(Segment& scan, double fraction) {
    size_t keep = size_t(double(scan.data.size()) * fraction);
    if (keep > 0 && scan.data[keep - 1] == 0xFF) --keep;  // not inside a stuffed byte
    scan.data.resize(keep);
}

// ---- Whole photos ----

struct WholeCase {
    const char* photo;
    uint32_t scans;
};

TEST(JpegScans, WholePhotosAreWalkedToTheLastByteOfEveryScan) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const WholeCase cases[] = {
        {"snake/snake.jpg", 1},                      // 4:4:4, optimised tables
        {"photo/exif-rotate.jpg", 1},                // 4:2:2
        {"photo/cat-gray.jpg", 1},                   // one component
        {"photo/cmyk.jpg", 1},                       // four components, ten blocks an MCU, restarts
        {"photo/snake-restart.jpg", 1},              // a restart marker every 5 MCUs
        {"photo/snake-three-scans.jpg", 3},          // one sequential scan per component
        {"photo/snake-progressive.jpg", 10},         // refinement scans, tables between scans
        {"photo/snake-progressive-restart.jpg", 10}, // restarts within EOB runs
    };
    for (const WholeCase& c : cases) {
        const Bytes bytes = Photo(c.photo);
        ASSERT_FALSE(bytes.empty()) << c.photo;
        const JpegScanReport report = Check(bytes);
        EXPECT_EQ(report.verdict, JpegScanVerdict::kWhole) << c.photo;
        EXPECT_EQ(report.scans, c.scans) << c.photo;
        // A walk that took a bit too few or too many would end its scans early or run over.
        EXPECT_EQ(report.unusedBytes, 0u) << c.photo;
    }
}

TEST(JpegScans, AFileWithoutTablesDecodesWithTheStandardOnes) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    // jpegtran wrote this one with the standard tables; without them it reads the same.
    const Bytes bytes = Edited("photo/snake-restart.jpg", [](std::vector<Segment>& segments) {
        const size_t before = segments.size();
        for (size_t i = Find(segments, 0xC4); i < segments.size(); i = Find(segments, 0xC4)) {
            segments.erase(segments.begin() + ptrdiff_t(i));
        }
        return segments.size() < before;
    });
    const JpegScanReport report = Check(bytes);
    EXPECT_EQ(report.verdict, JpegScanVerdict::kWhole);
    EXPECT_EQ(report.scans, 1u);
    EXPECT_EQ(report.unusedBytes, 0u);
}

TEST(JpegScans, BytesAfterTheLastBlockAreCountedNotRefused) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const Bytes bytes = Edited("snake/snake.jpg", OnSegment(0xDA, 0, [](Segment& scan) {
        scan.data.insert(scan.data.end(), {0x12, 0x34, 0x56});
    }));
    const JpegScanReport report = Check(bytes);
    EXPECT_EQ(report.verdict, JpegScanVerdict::kWhole);
    EXPECT_EQ(report.unusedBytes, 3u);
}

// ---- Damaged and unread files ----

struct VerdictCase {
    std::string name;
    std::function<Bytes()> make;
    JpegScanVerdict verdict;
};

std::ostream& operator<<(std::ostream& out, const VerdictCase& c) { return out << c.name; }

class JpegScanVerdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(JpegScanVerdicts, AreAsExpected) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const Bytes bytes = GetParam().make();
    ASSERT_FALSE(bytes.empty()) << "could not make the file";
    EXPECT_EQ(Check(bytes).verdict, GetParam().verdict);
}

VerdictCase Damaged(const std::string& name, std::function<Bytes()> make) {
    return {name, std::move(make), JpegScanVerdict::kDamaged};
}

VerdictCase Unchecked(const std::string& name, std::function<Bytes()> make) {
    return {name, std::move(make), JpegScanVerdict::kUnchecked};
}

std::vector<VerdictCase> CutScans() {
    std::vector<VerdictCase> cases;
    for (int percent : {1, 40, 90, 99}) {
        const double fraction = percent / 100.0;
        const std::string at = std::to_string(percent) + " %";
        cases.push_back(Damaged("baseline scan cut at " + at, [=] { return JpegScanCut("snake/snake.jpg", fraction); }));
        cases.push_back(Damaged("restart interval cut at " + at, [=] { return JpegScanCut("photo/snake-restart.jpg", fraction); }));
        cases.push_back(Damaged("progressive file cut at " + at + " of its scans", [=] { return JpegScanCut("photo/snake-progressive.jpg", fraction); }));
        cases.push_back(Damaged("last progressive scan cut at " + at, [=] {
            return Edited("photo/snake-progressive.jpg", OnSegment(0xDA, -1, [=](Segment& scan) { CutData(scan, fraction); }));
        }));
    }
    return cases;
}

std::vector<VerdictCase> MissingScans() {
    std::vector<VerdictCase> cases;
    for (int scans = 1; scans < 10; ++scans) {
        cases.push_back(Damaged("progressive ended after " + std::to_string(scans) + " of 10 scans",
                                [=] { return JpegEndedAfterScans("photo/snake-progressive.jpg", scans); }));
    }
    const auto dropScan = [](int n) {
        return [=](std::vector<Segment>& segments) {
            const size_t i = Find(segments, 0xDA, n);
            if (i == segments.size()) return false;
            segments.erase(segments.begin() + ptrdiff_t(i));
            return true;
        };
    };
    cases.push_back(Damaged("progressive without its DC scan", [=] { return Edited("photo/snake-progressive.jpg", dropScan(0)); }));
    cases.push_back(Damaged("progressive without a middle scan", [=] { return Edited("photo/snake-progressive.jpg", dropScan(4)); }));
    cases.push_back(Damaged("sequential without its last component's scan",
                            [=] { return Edited("photo/snake-three-scans.jpg", dropScan(-1)); }));
    return cases;
}

std::vector<VerdictCase> DamagedData() {
    return {
        Damaged("baseline with an invalid code", [] {
            return Edited("snake/snake.jpg", OnSegment(0xDA, 0, InvalidCodeInMiddle));
        }),
        Damaged("refinement scan with an invalid code", [] {
            return Edited("photo/snake-progressive.jpg", OnSegment(0xDA, -1, InvalidCodeInMiddle));
        }),
        Damaged("restart markers out of order", [] {
            return Edited("photo/snake-restart.jpg", OnSegment(0xDA, 0, [](Segment& scan) {
                scan.data[RestartMarker(scan.data, 3) + 1] ^= 1;
            }));
        }),
        Damaged("a restart marker missing", [] {
            return Edited("photo/snake-progressive-restart.jpg", OnSegment(0xDA, 2, [](Segment& scan) {
                const auto marker = scan.data.begin() + ptrdiff_t(RestartMarker(scan.data, 5));
                scan.data.erase(marker, marker + 2);
            }));
        }),
        Damaged("no end-of-image marker", [] { return Edited("snake/snake.jpg", [](std::vector<Segment>&) { return true; }, false); }),
    };
}

std::vector<VerdictCase> BadStructure() {
    const auto repeatScan = [](std::vector<Segment>& segments) {
        const size_t i = Find(segments, 0xDA);
        if (i == segments.size()) return false;
        segments.push_back(segments[i]);
        return true;
    };
    return {
        Damaged("a second scan after one that held every component", [=] { return Edited("snake/snake.jpg", repeatScan); }),
        Damaged("a sequential band short of coefficient 63",
                [] { return Edited("snake/snake.jpg", OnSegment(0xDA, 0, [](Segment& scan) { scan.payload[scan.payload.size() - 2] = 62; })); }),
        Damaged("a refinement not taking on from the last scan's bit",
                [] { return Edited("photo/snake-progressive.jpg", OnSegment(0xDA, -1, [](Segment& scan) { scan.payload.back() = 0x21; })); }),
        Damaged("a scan naming a table slot beyond 3",
                [] { return Edited("snake/snake.jpg", OnSegment(0xDA, 0, [](Segment& scan) { scan.payload[2] = 0x44; })); }),
        Damaged("a table with more codes of a length than it holds", [] {
            return Edited("snake/snake.jpg", OnSegment(0xC4, 0, [](Segment& table) {
                table.payload.assign(17, 0);  // DC slot 0: two codes of one bit, 0 and the all-ones 1
                table.payload[1] = 2;
                table.payload.insert(table.payload.end(), {0, 1});
            }));
        }),
        Damaged("a second frame header", [] {
            return Edited("snake/snake.jpg", [](std::vector<Segment>& segments) {
                const size_t i = Find(segments, 0xC0);
                if (i == segments.size()) return false;
                segments.insert(segments.begin() + ptrdiff_t(i), segments[i]);
                return true;
            });
        }),
    };
}

std::vector<VerdictCase> LeftToTheDecoder() {
    const auto frameMarker = [](uint8_t marker) {
        return [=] { return Edited("snake/snake.jpg", OnSegment(0xC0, 0, [=](Segment& frame) { frame.marker = marker; })); };
    };
    return {
        Unchecked("arithmetic coding", [] { return Photo("photo/snake-arithmetic.jpg"); }),
        Unchecked("lossless frame", frameMarker(0xC3)),
        Unchecked("hierarchical frame", frameMarker(0xC5)),
        Unchecked("12-bit samples", [] {
            return Edited("snake/snake.jpg", OnSegment(0xC0, 0, [](Segment& frame) {
                frame.marker = 0xC1;
                frame.payload[0] = 12;
            }));
        }),
        Unchecked("height given by a DNL segment", [] {
            return Edited("snake/snake.jpg", OnSegment(0xC0, 0, [](Segment& frame) { frame.payload[1] = frame.payload[2] = 0; }));
        }),
        Unchecked("a PNG", [] { return Photo("snake/snake.png"); }),
    };
}

std::vector<VerdictCase> AllVerdictCases() {
    std::vector<VerdictCase> cases;
    for (auto group : {CutScans(), MissingScans(), DamagedData(), BadStructure(), LeftToTheDecoder()}) {
        cases.insert(cases.end(), group.begin(), group.end());
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, JpegScanVerdicts, ::testing::ValuesIn(AllVerdictCases()),
                         [](const ::testing::TestParamInfo<VerdictCase>& info) { return ParamName(info.param.name); });

// ---- The memory limit ----

TEST(JpegScans, ARefinementHistoryBeyondTheMemoryLimitIsRefusedBeforeItIsTaken) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    // The 600 x 450 photo holds 12,825 blocks over three components: 102,600 bytes of history.
    imaging::SetLimits({100000, 0});
    const JpegScanVerdict progressive = Check(Photo("photo/snake-progressive.jpg")).verdict;
    const JpegScanVerdict sequential = Check(Photo("snake/snake.jpg")).verdict;
    imaging::SetLimits({110000, 0});
    const JpegScanVerdict progressiveWithRoom = Check(Photo("photo/snake-progressive.jpg")).verdict;
    imaging::SetLimits(imaging::kDefaultLimits);
    EXPECT_EQ(progressive, JpegScanVerdict::kOutOfMemory);
    EXPECT_EQ(sequential, JpegScanVerdict::kWhole);  // holds no history
    EXPECT_EQ(progressiveWithRoom, JpegScanVerdict::kWhole);
}

// ---- Hand-made progressive frames: one component of 16 x 8 pixels, two blocks ----

// Bits written first bit highest; the last byte is padded with ones and 0xFF bytes are stuffed.
Bytes EntropyData(const std::string& bits) {
    Bytes out;
    for (size_t i = 0; i < bits.size(); i += 8) {
        std::string byte = bits.substr(i, 8);
        byte.resize(8, '1');
        out.push_back(uint8_t(std::stoi(byte, nullptr, 2)));
        if (out.back() == 0xFF) out.push_back(0x00);
    }
    return out;
}

Segment HuffmanTableSegment(uint8_t classAndSlot, const std::vector<std::pair<int, uint8_t>>& codeLengthsAndSymbols) {
    Segment table{0xC4, {classAndSlot}, {}};
    table.payload.resize(17, 0);
    for (const auto& [length, symbol] : codeLengthsAndSymbols) ++table.payload[size_t(length)];
    for (const auto& [length, symbol] : codeLengthsAndSymbols) table.payload.push_back(symbol);
    return table;
}

struct MiniScan {
    int start, end, high, low;
    std::string bits;
};

using CodeList = std::vector<std::pair<int, uint8_t>>;  // code lengths and their symbols

// DC: the one code 0, for a difference of size 0.
const CodeList kDcCodes = {{1, 0x00}};

// SOF2 16 x 8, one component, `dcCodes` for its DC table. AC table: 0 for a coefficient of size 1
// (new, in a refinement), 10 for an end of band, 110 for an end of band of two blocks (its one
// extra bit follows), 1110 and 11110 for coefficients of sizes 2 and 4; ones alone begin no code.
Bytes MiniProgressive(const std::vector<MiniScan>& scans, const CodeList& dcCodes = kDcCodes) {
    std::vector<Segment> segments = {
        {0xDB, Bytes(65, 1), {}},
        {0xC2, {8, 0, 8, 0, 16, 1, 1, 0x11, 0}, {}},
        HuffmanTableSegment(0x00, dcCodes),
        HuffmanTableSegment(0x10, {{1, 0x01}, {2, 0x00}, {3, 0x10}, {4, 0x02}, {5, 0x04}}),
    };
    segments[0].payload[0] = 0;
    for (const MiniScan& scan : scans) {
        segments.push_back({0xDA, {1, 1, 0x00, uint8_t(scan.start), uint8_t(scan.end), uint8_t(scan.high << 4 | scan.low)},
                            EntropyData(scan.bits)});
    }
    return Join(segments);
}

// DC: one code per block. First AC scan at bit 1: block 0 gets coefficient 1 (+1), then its band
// ends; block 1's band ends at once.
const MiniScan kDc = {0, 0, 0, 0, "0" "0"};
const MiniScan kFirstAc = {1, 63, 0, 1, "0" "1" "10" "10"};

// A first AC scan at bit 13 whose coefficient 1 in block 0 is `value` (size 4), then refinements
// down to bit 0, each ending both blocks' bands at once: block 0 owes a correction bit (0) in
// each only when the coefficient holds a value.
std::vector<MiniScan> RefinedFromBit13(const std::string& value, bool owesCorrection) {
    std::vector<MiniScan> scans = {kDc, {1, 63, 0, 13, "11110" + value + "10" "10"}};
    for (int bit = 13; bit > 0; --bit) scans.push_back({1, 63, bit, bit - 1, owesCorrection ? "10" "0" "10" : "10" "10"});
    return scans;
}

struct MiniCase {
    const char* name;
    std::vector<MiniScan> scans;
    JpegScanVerdict verdict;
    CodeList dcCodes = kDcCodes;
};

TEST(JpegScans, HandMadeRefinementsTakeACorrectionBitForEachCoefficientAlreadyNonzero) {
    const MiniCase cases[] = {
        // Block 0's band ends at once, owing a correction bit for coefficient 1; block 1 owes none.
        {"end of band, correction bit", {kDc, kFirstAc, {1, 63, 1, 0, "10" "1" "10"}}, JpegScanVerdict::kWhole},
        // Without that bit block 1 reads a new coefficient, then the padding's ones: no code.
        {"end of band, correction bit missing", {kDc, kFirstAc, {1, 63, 1, 0, "10" "10"}}, JpegScanVerdict::kDamaged},
        // One run covering both blocks (110, extra bit 0), then block 0's correction bit.
        {"end-of-band run over both blocks", {kDc, kFirstAc, {1, 63, 1, 0, "110" "0" "1"}}, JpegScanVerdict::kWhole},
        // Block 0: a new coefficient (sign 1) lands on coefficient 2, the first zero one, past
        // coefficient 1 and its correction bit 0; then its band ends, and block 1's. A walk that
        // forgot coefficient 1 would read that bit as the next code.
        {"new coefficient past a nonzero one", {kDc, kFirstAc, {1, 63, 1, 0, "0" "1" "0" "10" "10"}}, JpegScanVerdict::kWhole},
        // A second refinement owes bits for the coefficients the first one made nonzero too.
        {"correction bits for an earlier refinement's coefficient",
         {kDc, {1, 63, 0, 2, "0" "1" "10" "10"}, {1, 63, 2, 1, "0" "1" "0" "10" "10"}, {1, 63, 1, 0, "10" "0" "0" "10"}},
         JpegScanVerdict::kWhole},
        // libjpeg-turbo keeps coefficients in 16 bits: 8 at bit 13 wraps to 0 and owes no
        // correction bits, 9 keeps a value and owes them.
        {"first value that wraps to 0 at its bit", RefinedFromBit13("1000", false), JpegScanVerdict::kWhole},
        {"first value that keeps a value at its bit", RefinedFromBit13("1001", true), JpegScanVerdict::kWhole},
        {"refinement coefficient of size 2", {kDc, kFirstAc, {1, 63, 1, 0, "1110" "01" "10" "10"}}, JpegScanVerdict::kDamaged},
        // Two one-bit codes leave none for the all-ones code to be excluded: libjpeg-turbo
        // refuses the table even where the data would decode.
        {"DC table without room for its codes", {kDc, {1, 63, 0, 0, "0" "1" "10" "10"}}, JpegScanVerdict::kDamaged,
         {{1, 0x00}, {1, 0x00}}},
        {"last bit never sent", {kDc, kFirstAc}, JpegScanVerdict::kDamaged},
        {"coefficients 6 to 63 never sent", {kDc, {1, 5, 0, 0, "0" "1" "10" "10"}}, JpegScanVerdict::kDamaged},
        {"every coefficient sent whole", {kDc, {1, 63, 0, 0, "0" "1" "10" "10"}}, JpegScanVerdict::kWhole},
        {"AC before DC", {{1, 63, 0, 0, "0" "1" "10" "10"}, kDc}, JpegScanVerdict::kDamaged},
    };
    for (const MiniCase& c : cases) {
        const JpegScanReport report = Check(MiniProgressive(c.scans, c.dcCodes));
        EXPECT_EQ(report.verdict, c.verdict) << c.name;
        if (c.verdict == JpegScanVerdict::kWhole) {
            EXPECT_EQ(report.unusedBytes, 0u) << c.name;
        }
    }
}

}  // namespace

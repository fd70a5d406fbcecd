// Writing GIF files whole or not at all. First the pending file beneath it: a temporary file beside
// the target, renamed over it only when complete. Then WriteAnimatedGif end to end: the file's
// structure, its frames read back by decoders that are not ours (the platform loader everywhere;
// Pillow and ImageMagick on Linux), and every refused or failed write leaving an earlier file of
// that name intact and no partial or temporary file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/atomic_file.h"
#include "imaging/imaging.h"
#include "tests/imaging/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/read_gif.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using imaging::detail::AbandonFile;
using imaging::detail::BeginFile;
using imaging::detail::CommitFile;
using imaging::detail::PendingFile;

std::vector<uint8_t> BytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The file's bytes as text; empty when it cannot be read.
std::string Contents(const std::string& path) {
    std::vector<uint8_t> bytes;
    ReadFile(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteText(PendingFile* file, const std::string& text) {
    return imaging::detail::WriteToFile(file, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// ---- The pending file ----

using imaging::detail::TemporaryKind;
const TemporaryKind kKinds[] = {TemporaryKind::kUnnamedWhereSupported, TemporaryKind::kNamed};

TEST(PendingFile, CommitCreatesOrReplacesTheTargetAndLeavesNothingElse) {
    for (const TemporaryKind kind : kKinds) {
        ScratchDir dir;
        const std::string target = dir.file("out.gif");
        // Created, replaced by a longer text, then by a shorter one that must not keep the old tail.
        for (const char* text : {"first version", "second, longer version", "third"}) {
            PendingFile file;
            ASSERT_TRUE(BeginFile(target.c_str(), &file, kind));
            if (kind == TemporaryKind::kNamed || !file.tempPath.empty()) {
                // A short name of its own in the target's folder, whatever the target's length.
                const std::string folder = dir.path() + "/";
                ASSERT_EQ(file.tempPath.rfind(folder, 0), 0u) << file.tempPath;
                int processId = 0;
                EXPECT_TRUE(imaging::detail::IsTemporaryName(file.tempPath.c_str() + folder.size(), &processId));
            }
            EXPECT_NE(Contents(target), text);
            ASSERT_TRUE(WriteText(&file, text));
            ASSERT_TRUE(CommitFile(&file));
            EXPECT_EQ(Contents(target), text);
            EXPECT_EQ(dir.names(), std::vector<std::string>{"out.gif"});
        }
    }
}

#ifdef __linux__
TEST(PendingFile, UnnamedWhileWrittenOnLinux) {
    // Nothing in the folder bears the file until it is complete: a kill leaves nothing.
    ScratchDir dir;
    PendingFile file;
    ASSERT_TRUE(BeginFile(dir.file("out.gif").c_str(), &file));
    EXPECT_TRUE(file.tempPath.empty());
    ASSERT_TRUE(WriteText(&file, "data"));
    EXPECT_TRUE(dir.names().empty());
    ASSERT_TRUE(CommitFile(&file));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.gif"});
}
#endif

TEST(PendingFile, TemporaryNamesAreDistinct) {
    ScratchDir dir;
    const std::string target = dir.file("same.gif");
    PendingFile a, b;
    ASSERT_TRUE(BeginFile(target.c_str(), &a, TemporaryKind::kNamed));
    ASSERT_TRUE(BeginFile(target.c_str(), &b, TemporaryKind::kNamed));
    EXPECT_NE(a.tempPath, b.tempPath);
    AbandonFile(&a);
    AbandonFile(&b);
    EXPECT_TRUE(dir.names().empty());
}

TEST(PendingFile, StaleTemporaryFilesOfEndedWritersGoWithTheNextSave) {
    ScratchDir dir;
    // 999999996 is no process on Linux (ids end below 2^22) nor on Windows.
    ASSERT_TRUE(WriteFile(dir.file(".wobzy-999999996-7.tmp"), BytesOf("left by a kill")));
    ASSERT_TRUE(WriteFile(dir.file(".wobzy-1x-7.tmp"), BytesOf("not one of ours")));
    ASSERT_TRUE(WriteFile(dir.file("picture.png.tmp-999999996-1"), BytesOf("not one of ours")));
    PendingFile file;
    ASSERT_TRUE(BeginFile(dir.file("out.gif").c_str(), &file));
    ASSERT_TRUE(WriteText(&file, "gif"));
    ASSERT_TRUE(CommitFile(&file));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".wobzy-1x-7.tmp", "out.gif", "picture.png.tmp-999999996-1"}));
}

TEST(PendingFile, TemporaryNamesOfRunningWritersStay) {
    ScratchDir dir;
    PendingFile running;  // this process's own, still being written
    ASSERT_TRUE(BeginFile(dir.file("a.gif").c_str(), &running, TemporaryKind::kNamed));
    PendingFile other;
    ASSERT_TRUE(BeginFile(dir.file("b.gif").c_str(), &other, TemporaryKind::kNamed));
    EXPECT_EQ(dir.names().size(), 2u);
    AbandonFile(&other);
    ASSERT_TRUE(WriteText(&running, "a"));
    ASSERT_TRUE(CommitFile(&running));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.gif"});
}

TEST(PendingFile, ATargetNameNear255BytesIsSavedWhicheverTemporaryKind) {
    for (const TemporaryKind kind : kKinds) {
        ScratchDir dir;
        const std::string name = std::string(247, 'n') + "_wob.gif";  // 255 bytes, the most a name may have
        PendingFile file;
        ASSERT_TRUE(BeginFile(dir.file(name).c_str(), &file, kind));
        ASSERT_TRUE(WriteText(&file, "gif"));
        ASSERT_TRUE(CommitFile(&file));
        EXPECT_EQ(dir.names(), std::vector<std::string>{name});
    }
}

TEST(TemporaryName, OnlyTheWritersOwnPatternIsRecognised) {
    int processId = 0;
    EXPECT_TRUE(imaging::detail::IsTemporaryName(".wobzy-4321-17.tmp", &processId));
    EXPECT_EQ(processId, 4321);
    for (const char* name : {".wobzy--17.tmp", ".wobzy-4321-.tmp", ".wobzy-4321.tmp", "wobzy-4321-17.tmp",
                             ".wobzy-4321-17.tmpx", ".wobzy-43a1-17.tmp", ".wobzy-12345678901-1.tmp", "x.gif"}) {
        EXPECT_FALSE(imaging::detail::IsTemporaryName(name, &processId)) << name;
    }
    EXPECT_EQ(imaging::detail::FolderOf("a/b/c.gif"), "a/b");
    EXPECT_EQ(imaging::detail::FolderOf("/c.gif"), "/");
    EXPECT_EQ(imaging::detail::FolderOf("c.gif"), ".");
}

// A way of not finishing a pending file, tried in a folder holding the earlier file keep.gif and
// the folder occupied/child.
struct UnfinishedCase {
    const char* name;
    const char* target;                 // in that folder
    void (*finish)(PendingFile* file);  // after BeginFile; null when BeginFile itself must refuse
};

void PrintTo(const UnfinishedCase& c, std::ostream* out) { *out << c.name; }

class PendingFileNotCommitted : public ::testing::TestWithParam<UnfinishedCase> {};

TEST_P(PendingFileNotCommitted, LeavesTheEarlierFileAndNoTemporaryOne) {
    const UnfinishedCase& c = GetParam();
    for (const TemporaryKind kind : kKinds) {
        ScratchDir dir;
        ASSERT_TRUE(WriteFile(dir.file("keep.gif"), BytesOf("earlier")));
        ASSERT_TRUE(fs::create_directories(fs::path(dir.file("occupied")) / "child"));
        PendingFile file;
        const bool begun = BeginFile(dir.file(c.target).c_str(), &file, kind);
        if (c.finish == nullptr) {
            EXPECT_FALSE(begun);
            EXPECT_EQ(file.stream, nullptr);
        } else {
            ASSERT_TRUE(begun);
            c.finish(&file);
        }
        EXPECT_EQ(Contents(dir.file("keep.gif")), "earlier");
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"keep.gif", "occupied"}));
        EXPECT_TRUE(fs::is_directory(fs::path(dir.file("occupied")) / "child"));
    }
}

const UnfinishedCase kUnfinishedCases[] = {
    {"Abandoned", "keep.gif",
     [](PendingFile* file) {
         ASSERT_TRUE(WriteText(file, "partial"));
         AbandonFile(file);
     }},
    {"WriteFailed", "keep.gif",
     [](PendingFile* file) {
         file->failed = true;  // as after a short write on a full disk
         EXPECT_FALSE(WriteText(file, "more"));
         EXPECT_FALSE(CommitFile(file));
     }},
    {"RenameOntoNonEmptyFolder", "occupied",
     [](PendingFile* file) {
         ASSERT_TRUE(WriteText(file, "data"));
         EXPECT_FALSE(CommitFile(file));
     }},
    {"FolderMissing", "no-such-folder/out.gif", nullptr},
};
INSTANTIATE_TEST_SUITE_P(Ways, PendingFileNotCommitted, ::testing::ValuesIn(kUnfinishedCases),
                         [](const ::testing::TestParamInfo<UnfinishedCase>& info) { return std::string(info.param.name); });

// ---- WriteAnimatedGif ----

constexpr int kFrames = 5;
constexpr int kDelay = 6;
constexpr int kWidth = 37;  // odd: DIB rows carry padding the GIF must not
constexpr int kHeight = 23;

// What the blocks of a GIF say, walked the way every decoder walks them.
struct GifSummary {
    bool valid = false;
    int width = 0, height = 0;
    int loopCount = -1;  // NETSCAPE2.0 repetitions, -1 when absent (plays once)
    std::vector<int> delays;
    int images = 0;
    std::vector<std::string> imageGeometry;  // each image's "WxH+X+Y", as ImageMagick writes it
};

GifSummary ParseGif(const std::vector<uint8_t>& b) {
    GifSummary s;
    size_t p = 13;
    auto u16 = [&](size_t at) { return int(b[at] | b[at + 1] << 8); };
    auto skipSubBlocks = [&]() {
        while (p < b.size() && b[p] != 0) p += size_t(b[p]) + 1;
        ++p;
        return p <= b.size();
    };
    if (b.size() < 14 || std::memcmp(b.data(), "GIF89a", 6) != 0) return s;
    s.width = u16(6);
    s.height = u16(8);
    if (b[10] & 0x80) p += size_t(3) << ((b[10] & 7) + 1);
    while (p < b.size()) {
        const uint8_t block = b[p++];
        if (block == 0x3B) {
            s.valid = p == b.size();
            return s;
        }
        if (block == 0x21 && p + 1 < b.size()) {
            const uint8_t label = b[p++];
            if (label == 0xF9 && p + 5 < b.size() && b[p] == 4) s.delays.push_back(u16(p + 2));
            if (label == 0xFF && p + 15 < b.size() && std::memcmp(&b[p + 1], "NETSCAPE2.0", 11) == 0 &&
                b[p + 12] == 3 && b[p + 13] == 1) {
                s.loopCount = u16(p + 14);
            }
            if (!skipSubBlocks()) return s;
        } else if (block == 0x2C && p + 9 < b.size()) {
            s.imageGeometry.push_back(std::to_string(u16(p + 4)) + "x" + std::to_string(u16(p + 6)) + "+" +
                                      std::to_string(u16(p)) + "+" + std::to_string(u16(p + 2)));
            const uint8_t packed = b[p + 8];
            p += 9;
            if (packed & 0x80) p += size_t(3) << ((packed & 7) + 1);
            ++p;  // LZW minimum code size
            if (!skipSubBlocks()) return s;
            ++s.images;
        } else {
            return s;
        }
    }
    return s;
}

// Five frames of one small picture, each changed a little the way the warp redraws them, with
// 256 colours in all, so the GIF must hold them exactly.
class FrameSet : public ::testing::Test {
protected:
    // 16 x 16 = 256 colours, repeating across the picture.
    static Rgb Base(int x, int y) {
        const uint8_t r = uint8_t(x % 16 * 17);
        return Rgb{r, uint8_t(y % 16 * 17), uint8_t(255 - r)};
    }

    void SetUp() override {
        source_ = LoadPrepared(dir_, "source.bmp", MakeBmp(kWidth, kHeight, Base));
        ASSERT_NE(source_, 0u);
        for (int f = 0; f < kFrames; ++f) {
            frames_[f] = imaging::Duplicate(source_);
            ASSERT_NE(frames_[f], 0u);
            // Frame f: a band of rows shifted by f pixels, plus one marker pixel.
            const imaging::ImageInfo* info = imaging::Info(frames_[f]);
            const int64_t stride = imaging::DibStride(kWidth);
            for (int y = 8; y < 14; ++y) {
                uint8_t* row = info->pixels + (kHeight - 1 - y) * stride;
                for (int x = 0; x < kWidth; ++x) {
                    const Rgb c = Base((x + f) % kWidth, y);
                    row[3 * x] = c.b;
                    row[3 * x + 1] = c.g;
                    row[3 * x + 2] = c.r;
                }
            }
            const Rgb markerColor = Base(3, 7);
            uint8_t* marker = info->pixels + (kHeight - 1) * stride + 3 * f;  // top row, x = f
            marker[0] = markerColor.b;
            marker[1] = markerColor.g;
            marker[2] = markerColor.r;
            expected_[f] = PictureFromDib(frames_[f]);
        }
    }

    void TearDown() override {
        for (imaging::Handle h : frames_) imaging::Release(h);
        imaging::Release(source_);
    }

    int Write(const std::string& path) { return imaging::WriteAnimatedGif(path.c_str(), frames_, kFrames, kDelay); }

    // Writes the frames to `path` and walks the file written; not valid when either step fails.
    GifSummary WriteAndParse(const std::string& path) {
        std::vector<uint8_t> bytes;
        if (Write(path) == 0 || !ReadFile(path, &bytes)) return GifSummary{};
        return ParseGif(bytes);
    }

    ScratchDir dir_;
    imaging::Handle source_ = 0;
    imaging::Handle frames_[kFrames] = {};
    Picture expected_[kFrames];
};

TEST_F(FrameSet, WritesLoopingFiveFrameGif) {
    const GifSummary s = WriteAndParse(dir_.file("out.gif"));
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.width, kWidth);
    EXPECT_EQ(s.height, kHeight);
    EXPECT_EQ(s.images, kFrames);
    const std::string whole = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "+0+0";
    EXPECT_EQ(s.imageGeometry, std::vector<std::string>(kFrames, whole));
    EXPECT_EQ(s.delays, std::vector<int>(kFrames, kDelay));
    EXPECT_EQ(s.loopCount, 0);  // forever
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"out.gif", "source.bmp"}));  // no temporary left
}

TEST_F(FrameSet, PlatformLoaderReadsFirstFrameExactly) {
    const std::string out = dir_.file("out.gif");
    ASSERT_NE(Write(out), 0);
    const imaging::Handle back = imaging::LoadFile(out.c_str());
    ASSERT_NE(back, 0u);
    ASSERT_NE(imaging::Prepare(back), 0);
    const Difference d = Compare(PictureFromDib(back), expected_[0]);
    EXPECT_EQ(d.largest, 0);
    imaging::Release(back);
}

TEST_F(FrameSet, ExistingOutputIsReplaced) {
    const std::string out = dir_.file("out.gif");
    ASSERT_TRUE(WriteFile(out, std::vector<uint8_t>(100000, 'x')));  // larger than the GIF
    const GifSummary s = WriteAndParse(out);
    EXPECT_TRUE(s.valid);  // no tail of the old file after the trailer
    EXPECT_EQ(s.images, kFrames);
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"out.gif", "source.bmp"}));
}

// ---- Refused and failed writes ----

// What a failing write may use: the folder (source.bmp, the earlier out.gif and the empty folder
// a-folder), the path of out.gif and the five good frames of one size.
struct WriteSetting {
    const ScratchDir& dir;
    const std::string& out;
    const imaging::Handle* frames;
};

// What a case returns when this system cannot make its write fail (root writes into read-only
// folders); the test is then skipped.
constexpr int kCannotFailHere = std::numeric_limits<int>::min();

int WriteGood(const WriteSetting& s, const std::string& path) {
    return imaging::WriteAnimatedGif(path.c_str(), s.frames, kFrames, kDelay);
}

// Writes the good frames with the fourth one replaced by `odd`.
int WriteWithFourthFrame(const WriteSetting& s, imaging::Handle odd) {
    std::vector<imaging::Handle> frames(s.frames, s.frames + kFrames);
    frames[3] = odd;
    return imaging::WriteAnimatedGif(s.out.c_str(), frames.data(), kFrames, kDelay);
}

// Writes the good frames with the fourth one replaced by a copy of it resized to width x height.
int WriteWithResizedFrame(const WriteSetting& s, int32_t width, int32_t height) {
    const imaging::Handle resized = imaging::Duplicate(s.frames[3]);
    imaging::Resize(resized, width, height);
    const int written = WriteWithFourthFrame(s, resized);
    imaging::Release(resized);
    return written;
}

struct FailureCase {
    const char* name;
    int (*write)(const WriteSetting& s);  // the write that must fail, its result
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

// An earlier file of the output's name must survive a failed write byte for byte, and the
// folder must hold exactly what it held before: no partial output, no temporary file. Afterwards
// the good frames, refused while in bad company, must still be written when all is well.
class FailedWrite : public FrameSet, public ::testing::WithParamInterface<FailureCase> {
protected:
    void SetUp() override {
        FrameSet::SetUp();
        out_ = dir_.file("out.gif");
        ASSERT_TRUE(WriteFile(out_, earlier_));
        ASSERT_TRUE(fs::create_directory(dir_.file("a-folder")));
        namesBefore_ = dir_.names();
    }
    void ExpectNothingChanged() {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(out_, &bytes));
        EXPECT_EQ(bytes, earlier_);
        EXPECT_EQ(dir_.names(), namesBefore_);
        EXPECT_TRUE(fs::is_directory(dir_.file("a-folder")));
    }

    std::string out_;
    const std::vector<uint8_t> earlier_ = BytesOf("earlier");
    std::vector<std::string> namesBefore_;
};

TEST_P(FailedWrite, KeepsTheEarlierFileAndLeavesNoOther) {
    const int written = GetParam().write(WriteSetting{dir_, out_, frames_});
    if (written == kCannotFailHere) GTEST_SKIP() << "this system cannot make that write fail";
    EXPECT_EQ(written, 0);
    ExpectNothingChanged();

    const GifSummary s = WriteAndParse(out_);
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.images, kFrames);
    EXPECT_EQ(dir_.names(), namesBefore_);
}

const FailureCase kFailureCases[] = {
    {"StaleFrameHandle",
     [](const WriteSetting& s) {
         const imaging::Handle released = imaging::Duplicate(s.frames[3]);
         imaging::Release(released);
         return WriteWithFourthFrame(s, released);
     }},
    {"ZeroFrameHandle", [](const WriteSetting& s) { return WriteWithFourthFrame(s, 0); }},
    {"FrameOfOtherSize", [](const WriteSetting& s) { return WriteWithResizedFrame(s, 20, -1); }},
    // Sizes that differ in one side only, by one pixel.
    {"FrameOneColumnNarrower", [](const WriteSetting& s) { return WriteWithResizedFrame(s, kWidth - 1, kHeight); }},
    {"FrameOneRowShorter", [](const WriteSetting& s) { return WriteWithResizedFrame(s, kWidth, kHeight - 1); }},
    {"NoFrames", [](const WriteSetting& s) { return imaging::WriteAnimatedGif(s.out.c_str(), s.frames, 0, kDelay); }},
    {"NegativeFrameCount", [](const WriteSetting& s) { return imaging::WriteAnimatedGif(s.out.c_str(), s.frames, -3, kDelay); }},
    {"NullFrames", [](const WriteSetting& s) { return imaging::WriteAnimatedGif(s.out.c_str(), nullptr, kFrames, kDelay); }},
    {"NullPath", [](const WriteSetting& s) { return imaging::WriteAnimatedGif(nullptr, s.frames, kFrames, kDelay); }},
    // Works as root too, unlike a read-only folder.
    {"FolderIsAFile", [](const WriteSetting& s) { return WriteGood(s, s.out + "/inside.gif"); }},
    {"FolderMissing", [](const WriteSetting& s) { return WriteGood(s, s.dir.file("no-such-folder") + "/out.gif"); }},
    {"OutputNameIsAFolder", [](const WriteSetting& s) { return WriteGood(s, s.dir.file("a-folder")); }},
#ifndef _WIN32
    {"FolderNotWritable",
     [](const WriteSetting& s) {
         if (geteuid() == 0) return kCannotFailHere;
         if (chmod(s.dir.path().c_str(), 0555) != 0) return kCannotFailHere;
         const int written = WriteGood(s, s.out);
         chmod(s.dir.path().c_str(), 0755);
         return written;
     }},
    {"DiskFullMidway",
     [](const WriteSetting& s) {
         // A file size limit makes the writes fail part way (EFBIG), as a full disk would.
         rlimit saved{};
         if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return kCannotFailHere;
         void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
         rlimit small = saved;
         small.rlim_cur = 300;
         const int written = setrlimit(RLIMIT_FSIZE, &small) == 0 ? WriteGood(s, s.out) : kCannotFailHere;
         setrlimit(RLIMIT_FSIZE, &saved);
         std::signal(SIGXFSZ, savedHandler);
         return written;
     }},
#endif
};
INSTANTIATE_TEST_SUITE_P(Ways, FailedWrite, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- Read back by independent decoders (Linux) ----

#ifndef _WIN32
class IndependentDecoder : public FrameSet, public ::testing::WithParamInterface<const char*> {};

TEST_P(IndependentDecoder, ShowsEveryFrameExactlyLoopingAtSixHundredths) {
    // The decoders compose each frame onto the previous ones as a viewer does (disposal, transparency).
    const std::string out = dir_.file("out.gif");
    ASSERT_NE(Write(out), 0);
    const read_gif::ShownGif shown = read_gif::ReadGif(GetParam(), out);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.frames, kFrames);
    EXPECT_EQ(shown.width, kWidth);
    EXPECT_EQ(shown.height, kHeight);
    EXPECT_EQ(shown.delaysMs, "60,60,60,60,60");
    EXPECT_EQ(shown.loop, "0");
    ASSERT_EQ(shown.rgb.size(), size_t(kFrames) * kWidth * kHeight * 3);
    for (int f = 0; f < kFrames; ++f) {
        const uint8_t* rgb = read_gif::FrameRgb(shown, f);
        Picture decoded;
        decoded.width = kWidth;
        decoded.height = kHeight;
        for (int i = 0; i < kWidth * kHeight; ++i) decoded.pixels.push_back(Rgb{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
        EXPECT_EQ(Compare(decoded, expected_[f]).largest, 0) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Decoders, IndependentDecoder, ::testing::ValuesIn(read_gif::kDecoders),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
#endif

// ---- A photo: more than 256 colours, so the GIF approximates ----

TEST(PhotoGif, FirstFrameStaysCloseToThePhoto) {
    ASSERT_TRUE(TestDataPresent()) << kFetchHint;
    const std::string path = TestData("snake/snake.png");
    const imaging::Handle source = imaging::LoadFile(path.c_str());
    ASSERT_NE(source, 0u);
    ASSERT_NE(imaging::Prepare(source), 0);
    imaging::Handle frames[kFrames];
    for (imaging::Handle& f : frames) {
        f = imaging::Duplicate(source);
        ASSERT_NE(f, 0u);
    }
    ScratchDir dir;
    const std::string out = dir.file("snake.png_wob.gif");
    EXPECT_NE(imaging::WriteAnimatedGif(out.c_str(), frames, kFrames, kDelay), 0);
    const imaging::Handle back = imaging::LoadFile(out.c_str());
    ASSERT_NE(back, 0u);
    ASSERT_NE(imaging::Prepare(back), 0);
    // A flipped, mirrored or channel-swapped frame differs by about 40 on average.
    const Difference d = Compare(PictureFromDib(back), PictureFromDib(source));
    EXPECT_LE(d.mean, 6.0);
    imaging::Release(back);
    for (imaging::Handle f : frames) imaging::Release(f);
    imaging::Release(source);
}

}  // namespace

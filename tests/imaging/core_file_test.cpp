// Whole-or-nothing writing: the temporary file beside the target, its rename over an existing
// file, and every failure leaving the earlier file untouched and no temporary file behind. Also
// WriteAnimatedGif's refusals, which must not touch the output either.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/atomic_file.h"
#include "imaging/imaging.h"
#include "tests/imaging/core_test_images.h"

namespace {

namespace fs = std::filesystem;
using namespace imaging::detail;

// A fresh empty folder under the system's temporary folder, removed with everything in it.
struct Folder {
    fs::path path;
    Folder() {
        static int count = 0;
        path = fs::temp_directory_path() / ("wobzy-core-" + std::to_string(++count) + "-" +
                                            std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string file(const char* name) const { return (path / name).string(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(path)) out.push_back(entry.path().filename().string());
        return out;
    }
};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool WriteText(PendingFile* file, const std::string& text) {
    return WriteToFile(file, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(AtomicFile, CommitCreatesOrReplacesTheTargetAndLeavesNothingElse) {
    Folder folder;
    const std::string target = folder.file("out.gif");
    for (const char* text : {"first version", "second, longer version"}) {
        PendingFile file;
        ASSERT_TRUE(BeginFile(target.c_str(), &file));
        EXPECT_EQ(file.tempPath.rfind(target + ".tmp-", 0), 0u) << file.tempPath;
        EXPECT_FALSE(fs::exists(target) && Contents(target) == text);
        ASSERT_TRUE(WriteText(&file, text));
        ASSERT_TRUE(CommitFile(&file));
        EXPECT_EQ(Contents(target), text);
        EXPECT_EQ(folder.names(), std::vector<std::string>{"out.gif"});
    }
}

TEST(AtomicFile, TemporaryNamesAreDistinct) {
    Folder folder;
    const std::string target = folder.file("same.gif");
    PendingFile a, b;
    ASSERT_TRUE(BeginFile(target.c_str(), &a));
    ASSERT_TRUE(BeginFile(target.c_str(), &b));
    EXPECT_NE(a.tempPath, b.tempPath);
    AbandonFile(&a);
    AbandonFile(&b);
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicFile, FailuresKeepTheEarlierFileAndRemoveTheTemporaryOne) {
    Folder folder;
    const std::string target = folder.file("keep.gif");
    Put(target, "earlier");

    PendingFile abandoned;
    ASSERT_TRUE(BeginFile(target.c_str(), &abandoned));
    ASSERT_TRUE(WriteText(&abandoned, "partial"));
    AbandonFile(&abandoned);
    EXPECT_EQ(Contents(target), "earlier");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"keep.gif"});

    PendingFile failedWrite;
    ASSERT_TRUE(BeginFile(target.c_str(), &failedWrite));
    failedWrite.failed = true;  // as after a short write on a full disk
    EXPECT_FALSE(WriteText(&failedWrite, "more"));
    EXPECT_FALSE(CommitFile(&failedWrite));
    EXPECT_EQ(Contents(target), "earlier");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"keep.gif"});
}

TEST(AtomicFile, RenameFailureRemovesTheTemporaryFile) {
    Folder folder;
    const std::string target = folder.file("occupied");
    fs::create_directories(fs::path(target) / "child");  // a non-empty folder cannot be replaced
    PendingFile file;
    ASSERT_TRUE(BeginFile(target.c_str(), &file));
    ASSERT_TRUE(WriteText(&file, "data"));
    EXPECT_FALSE(CommitFile(&file));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"occupied"});
    EXPECT_TRUE(fs::is_directory(target));
}

TEST(AtomicFile, MissingFolderIsRefusedAtTheStart) {
    Folder folder;
    PendingFile file;
    EXPECT_FALSE(BeginFile(folder.file("no-such-folder/out.gif").c_str(), &file));
    EXPECT_EQ(file.stream, nullptr);
}

TEST(WriteAnimatedGif, RefusalsLeaveTheEarlierFileAlone) {
    Folder folder;
    const std::string target = folder.file("frames.gif");
    Put(target, "earlier");
    const imaging::Handle a = core_test::MakeImage(4, 3, core_test::Distinct);
    const imaging::Handle b = core_test::MakeImage(4, 3, core_test::Distinct);
    const imaging::Handle wider = core_test::MakeImage(5, 3, core_test::Distinct);
    const imaging::Handle released = core_test::MakeImage(4, 3, core_test::Distinct);
    imaging::Release(released);

    const imaging::Handle mixedSizes[] = {a, wider};
    const imaging::Handle withStale[] = {a, released};
    const imaging::Handle withZero[] = {a, 0};
    EXPECT_EQ(imaging::WriteAnimatedGif(target.c_str(), mixedSizes, 2, 6), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(target.c_str(), withStale, 2, 6), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(target.c_str(), withZero, 2, 6), 0);
    const imaging::Handle good[] = {a, b};
    EXPECT_EQ(imaging::WriteAnimatedGif(target.c_str(), good, 0, 6), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(target.c_str(), nullptr, 2, 6), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(nullptr, good, 2, 6), 0);
    EXPECT_EQ(imaging::WriteAnimatedGif(folder.file("missing/x.gif").c_str(), good, 2, 6), 0);
    EXPECT_EQ(Contents(target), "earlier");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"frames.gif"});

    // The same frames that were refused above in bad company are written when all is well.
    EXPECT_NE(imaging::WriteAnimatedGif(target.c_str(), good, 2, 6), 0);
    EXPECT_EQ(Contents(target).substr(0, 6), "GIF89a");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"frames.gif"});
    for (imaging::Handle h : {a, b, wider}) imaging::Release(h);
}

}  // namespace

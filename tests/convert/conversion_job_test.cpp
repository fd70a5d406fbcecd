// The conversion job against the recording double: every failure code with its releases in order,
// the size-limit branches, the output name, and the box coming before the releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "convert/shake_warp.h"
#include "tests/support/image_operations_double.h"

namespace {

using Calls = std::vector<std::string>;

class ConversionJob : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetImageOpsDouble();
        conversionSettings = ConversionSettings{20, false, 400};
    }
    void TearDown() override { ResetImageOpsDouble(); }

    // Converts, then returns the calls without the warp's "info" reads of the copies.
    Calls Convert(const char* path) {
        ConvertFile(RecordingHost(), path);
        Calls calls;
        bool sourceInfoSeen = false;
        for (const std::string& call : imageOps.calls) {
            if (call.rfind("info ", 0) == 0) {
                if (sourceInfoSeen) continue;
                sourceInfoSeen = true;
            }
            calls.push_back(call);
        }
        return calls;
    }
};

Calls Duplicates(int copies, bool lastFails) {
    Calls calls;
    for (int n = 1; n <= copies; ++n)
        calls.push_back("duplicate 1 -> " + std::to_string(lastFails && n == copies ? 0 : n + 1));
    return calls;
}

Calls Join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(ConversionJob, SuccessWritesFiveWarpedCopiesThenReleasesSourceFirst) {
    randomSequenceState = 1;
    Calls calls = Convert("C:\\pics\\cat.jpg");
    EXPECT_EQ(calls, Join({{"load C:\\pics\\cat.jpg", "prepare 1", "info 1"},
                           Duplicates(5, false),
                           {"write C:\\pics\\cat.jpg_wob.gif 2 3 4 5 6 count 5 delay 6", "release 1", "release 2",
                            "release 3", "release 4", "release 5", "release 6"}}));
    uint32_t state = 1;
    for (int i = 0; i < 5 * 510; ++i) state = state * 214013u + 2531011u;
    EXPECT_EQ(randomSequenceState, state);
    // The warp reads each copy's record, then the source's, in frame order, after all copies exist.
    Calls warpInfos;
    for (const std::string& call : imageOps.calls)
        if (call.rfind("info ", 0) == 0) warpInfos.push_back(call);
    EXPECT_EQ(warpInfos, (Calls{"info 1", "info 2", "info 1", "info 3", "info 1", "info 4", "info 1", "info 5",
                                "info 1", "info 6", "info 1"}));
}

TEST_F(ConversionJob, EachFailingStepGivesItsCodeAndReleasesWhatItHolds) {
    const char* path = "/photos/a b.png";
    imageOps.failLoad = true;
    EXPECT_EQ(Convert(path), (Calls{"load /photos/a b.png", "box 0 /photos/a b.png"}));

    ResetImageOpsDouble();
    imageOps.failPrepare = true;
    EXPECT_EQ(Convert(path), (Calls{"load /photos/a b.png", "prepare 1", "box 1 /photos/a b.png", "release 1"}));

    for (int n = 1; n <= 5; ++n) {
        ResetImageOpsDouble();
        imageOps.failDuplicateNumber = n;
        Calls releases{"release 1"};
        for (int copy = 1; copy < n; ++copy) releases.push_back("release " + std::to_string(copy + 1));
        EXPECT_EQ(Convert(path), Join({{"load /photos/a b.png", "prepare 1", "info 1"},
                                       Duplicates(n, true),
                                       {"box " + std::to_string(n + 1) + " /photos/a b.png"},
                                       releases}))
            << "copy " << n << " failing";
        EXPECT_EQ(std::count(imageOps.calls.begin(), imageOps.calls.end(), "info 1"), 1)
            << "nothing is drawn when a copy fails";
    }

    ResetImageOpsDouble();
    imageOps.failWrite = true;
    EXPECT_EQ(Convert(path), Join({{"load /photos/a b.png", "prepare 1", "info 1"},
                                   Duplicates(5, false),
                                   {"write /photos/a b.png_wob.gif 2 3 4 5 6 count 5 delay 6",
                                    "box 7 /photos/a b.png",  // names the source, not the GIF
                                    "release 1", "release 2", "release 3", "release 4", "release 5", "release 6"}}));
}

TEST_F(ConversionJob, SizeLimitResizesTheCopiesByTheLongerSide) {
    struct Case {
        int32_t width, height;
        bool enabled;
        int32_t limit;
        const char* resize;  // arguments after the handle, or null for no resize
    } cases[] = {
        {500, 300, true, 400, "400 -1"}, {300, 500, true, 400, "-1 400"}, {500, 500, true, 400, "-1 400"},
        {400, 300, true, 400, nullptr},  {300, 400, true, 400, nullptr},  {401, 401, true, 400, "-1 400"},
        {10, 10, true, 0, "-1 0"},       {3, 2, true, -5, "-5 -1"},       {900, 20, false, 400, nullptr},
        {20, 900, false, 0, nullptr},
    };
    for (const Case& c : cases) {
        ResetImageOpsDouble();
        imageOps.loadWidth = c.width;
        imageOps.loadHeight = c.height;
        conversionSettings = ConversionSettings{20, c.enabled, c.limit};
        ConvertFile(RecordingHost(), "p.jpg");
        const Calls& calls = imageOps.calls;
        Calls resizes;
        for (const std::string& call : calls)
            if (call.rfind("resize ", 0) == 0) resizes.push_back(call);
        Calls expected;
        if (c.resize)
            for (int copy = 2; copy <= 6; ++copy) expected.push_back("resize " + std::to_string(copy) + " " + c.resize);
        EXPECT_EQ(resizes, expected) << c.width << "x" << c.height << " limit " << c.limit;
        if (c.resize) {
            // Right after the last frame is drawn (its warp reads copy 6's and the source's records),
            // right before the save.
            size_t first = std::find(calls.begin(), calls.end(), resizes[0]) - calls.begin();
            EXPECT_EQ(calls[first - 2], "info 6");
            EXPECT_EQ(calls[first - 1], "info 1");
            EXPECT_EQ(calls[first + 5].rfind("write ", 0), 0u);
        }
    }
}

// The observer sees the five frames after the size limit, right before they are saved, and the
// host's context comes back to both callbacks.
TEST_F(ConversionJob, FrameObserverSeesTheFramesAsSavedAndTheHostContextComesBack) {
    struct Seen {
        std::vector<ImageHandle> frames;
        size_t callsBefore = 0;
        std::vector<std::string> failures;
    } seen;
    ConversionHost host = RecordingHost();
    host.context = &seen;
    host.observeFrames = [](void* context, const ImageHandle* frames, int32_t count) {
        Seen* s = static_cast<Seen*>(context);
        s->frames.assign(frames, frames + count);
        s->callsBefore = imageOps.calls.size();
    };
    host.reportError = [](void* context, ConversionFailure failure, const char* path) {
        static_cast<Seen*>(context)->failures.push_back(std::to_string(failure) + " " + path);
    };
    conversionSettings = ConversionSettings{20, true, 2};
    ConvertFile(host, "a.png");
    EXPECT_EQ(seen.frames, (std::vector<ImageHandle>{2, 3, 4, 5, 6}));
    ASSERT_LT(seen.callsBefore, imageOps.calls.size());
    EXPECT_EQ(imageOps.calls[seen.callsBefore - 1], "resize 6 2 -1");
    EXPECT_EQ(imageOps.calls[seen.callsBefore].rfind("write a.png_wob.gif", 0), 0u);
    EXPECT_TRUE(seen.failures.empty());

    ResetImageOpsDouble();
    imageOps.failWrite = true;
    ConvertFile(host, "b.png");
    EXPECT_EQ(seen.failures, (std::vector<std::string>{"7 b.png"}));
}

// Every step has its own code, and the save's never meets a copy's, whatever the frame count.
TEST(ConversionFailure, CodesAreDistinctAndInStepOrder) {
    EXPECT_EQ(kLoadFailed, 0);
    EXPECT_EQ(kPrepareFailed, 1);
    EXPECT_EQ(kFirstCopyFailed, 2);
    EXPECT_EQ(kSaveFailed, kFirstCopyFailed + kFrameCount);
    EXPECT_EQ(kSaveFailed, 7);
}

TEST_F(ConversionJob, OutputNameIsTheWholePathPlusSuffix) {
    const std::string longPath = "/tmp/" + std::string(1000, 'd') + "/photo.final.jpeg";
    const std::pair<std::string, std::string> cases[] = {
        {"D:\\a\\photo.png", "D:\\a\\photo.png_wob.gif"},
        {"x_wob.gif", "x_wob.gif_wob.gif"},
        {"noext", "noext_wob.gif"},
        {"", "_wob.gif"},
        {longPath, longPath + "_wob.gif"},
    };
    for (const auto& c : cases) {
        ResetImageOpsDouble();
        Calls calls = Convert(c.first.c_str());
        EXPECT_EQ(calls[3 + 5], "write " + c.second + " 2 3 4 5 6 count 5 delay 6");
    }
}

}  // namespace

// Allocation failure inside the GIF encoder (native build: the address space is capped in a
// child process): the encoding must report failure, not throw or crash.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>

#include "gif_test_frames.h"

namespace {

size_t VirtualBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    return pages * 4096;
}

// Runs in the child: caps the address space a little above what is mapped now, so the encoder's
// index buffers (three of 32 MB here) cannot all be had, then exits 0 only if it returned false.
void EncodeWithScarceMemory(const std::vector<gif::Frame>& frames) {
    rlimit cap{VirtualBytes() + (size_t(40) << 20), RLIM_INFINITY};
    cap.rlim_max = cap.rlim_cur;
    if (setrlimit(RLIMIT_AS, &cap) != 0) std::_Exit(3);
    std::vector<uint8_t>* out = new std::vector<uint8_t>();
    bool ok = gif::EncodeAnimation(frames.data(), int(frames.size()), 6, gif::VectorSink(out));
    std::_Exit(ok ? 1 : 0);
}

TEST(GifMemoryDeathTest, AllocationFailureReturnsFalse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto pictures = giftest::PhotoLikeFrames(2, 8000, 4000);
    std::vector<gif::Frame> frames = giftest::FramesOf(pictures);
    EXPECT_EXIT(EncodeWithScarceMemory(frames), testing::ExitedWithCode(0), "");
}

}  // namespace

// Transparent pixels across the frames: one pass over each keyed frame beside the frame before it
// (the last, for the first) finds whether it has transparent pixels and whether any of them was
// opaque a frame earlier. Opaque frames are not read at all.
#include "imaging/gif/gif_transparency.h"

#include "imaging/gif/gif_schedule.h"

namespace gif {
namespace detail {

namespace {

const uint8_t* RowOf(const Frame& frame, int y) { return frame.firstRow + ptrdiff_t(y) * frame.stride; }

struct KeyScan {
    bool hasTransparent;
    bool revealsPage;  // transparent somewhere the frame before was opaque
};

KeyScan ScanKeyPixels(const Frame& frame, const Frame& before, bool beforeIsSelf) {
    KeyScan scan{false, false};
    if (frame.transparentKey < 0) return scan;
    for (int y = 0; y < frame.height && !scan.revealsPage; ++y) {
        const uint8_t* row = RowOf(frame, y);
        const uint8_t* beforeRow = RowOf(before, y);
        for (int x = 0; x < frame.width; ++x) {
            if (!IsKeyPixel(row + 3 * x, frame.transparentKey)) continue;
            scan.hasTransparent = true;
            if (!beforeIsSelf && !IsKeyPixel(beforeRow + 3 * x, before.transparentKey)) {
                scan.revealsPage = true;
                break;
            }
        }
    }
    return scan;
}

}  // namespace

void PlanTransparency(const Frame* frames, int count, int threadCount, std::vector<FrameTransparency>* out) {
    std::vector<KeyScan> scans(size_t(count), KeyScan{false, false});
    RunParallel(threadCount, count, [&](int f) {
        int before = (f + count - 1) % count;
        scans[size_t(f)] = ScanKeyPixels(frames[f], frames[before], before == f);
    });
    out->assign(size_t(count), FrameTransparency{false, false});
    for (int f = 0; f < count; ++f) {
        (*out)[size_t(f)].hasTransparent = scans[size_t(f)].hasTransparent;
        (*out)[size_t((f + count - 1) % count)].clearAfter = scans[size_t(f)].revealsPage;
    }
}

bool AnyTransparent(const std::vector<FrameTransparency>& frames) {
    for (const FrameTransparency& frame : frames) {
        if (frame.hasTransparent) return true;
    }
    return false;
}

}  // namespace detail
}  // namespace gif

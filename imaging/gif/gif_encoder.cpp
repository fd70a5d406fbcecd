// The GIF encoder's entry point: argument checks, the shared palette and the plan that the
// frames are encoded by (the work itself is spread over threads in gif_schedule.cpp).
#include "imaging/gif/gif_encoder.h"

#include <algorithm>
#include <thread>

#include "imaging/gif/gif_blocks.h"
#include "imaging/gif/gif_nearest.h"
#include "imaging/gif/gif_palette.h"
#include "imaging/gif/gif_schedule.h"
#include "imaging/gif/gif_transparency.h"

namespace gif {

namespace {

using namespace detail;

const int kMaxSide = 65535;
const int kMaxThreads = 8;
// Far below anything useful, and small enough that no sum of distances overflows.
const int kMaxKeepTolerance = 1 << 16;

bool ValidArguments(const Frame* frames, int count, int delayCs, const ByteSink& sink) {
    if (!frames || count < 1 || !sink.write || delayCs < 0 || delayCs > 65535) return false;
    for (int f = 0; f < count; ++f) {
        const Frame& frame = frames[f];
        if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxSide || frame.height > kMaxSide) return false;
        if (frame.width != frames[0].width || frame.height != frames[0].height) return false;
        if (!frame.firstRow) return false;
        if (frame.transparentKey < kOpaque || frame.transparentKey > 0xFFFFFF) return false;
        ptrdiff_t rowBytes = ptrdiff_t(frame.width) * 3;
        if (frame.stride < rowBytes && -frame.stride < rowBytes) return false;
    }
    // Three index buffers of the frame's size must be addressable.
    uint64_t pixels = uint64_t(frames[0].width) * uint64_t(frames[0].height);
    return pixels <= uint64_t(SIZE_MAX) / 4;
}

int ThreadCount(const EncodeOptions& options) {
    int threads = options.threads;
    if (threads <= 0) threads = int(std::thread::hardware_concurrency());
    return std::max(1, std::min(threads, kMaxThreads));
}

bool Encode(const Frame* frames, int count, int delayCs, ByteSink sink, const EncodeOptions& options) {
    const int threads = ThreadCount(options);
    std::vector<FrameTransparency> transparency;
    PlanTransparency(frames, count, threads, &transparency);
    // The entry after the palette is transparent: for key pixels, and for "unchanged" ones.
    const bool keyed = AnyTransparent(transparency);
    Palette palette;
    bool exact = CollectExactColours(frames, count, keyed ? 255 : 256, &palette);
    bool unchanged = options.unchangedPixels && count > 1 && (!exact || palette.size < 256);
    bool graphic = !exact && BuildQuantisedPalette(frames, count, unchanged || keyed ? 255 : 256, threads, &palette);
    if (palette.size == 0) palette = Palette{1, {}};  // every pixel transparent: one unused colour
    NearestGrid grid;
    BuildNearestGrid(palette, palette.size, threads, &grid);
    // A graphic's flat colours are in the palette exactly; dithering would only scatter the error
    // of its few edge colours into them.
    const int ditherStrength = exact || graphic ? 0 : std::max(0, options.ditherStrength);
    CentreMap centreMap;
    if (ditherStrength > 0) BuildCentreMap(grid, threads, &centreMap);

    FramePlan plan;
    plan.frames = frames;
    plan.count = count;
    plan.delayCs = delayCs;
    plan.width = frames[0].width;
    plan.height = frames[0].height;
    plan.bandRows = std::max(8, (plan.height + 15) / 16);
    plan.bandCount = (plan.height + plan.bandRows - 1) / plan.bandRows;
    plan.palette = &palette;
    plan.grid = &grid;
    plan.centreMap = &centreMap;
    plan.transparency = transparency.data();
    plan.keyed = keyed;
    plan.ditherStrength = ditherStrength;
    plan.unchanged = unchanged;
    plan.transparentIndex = palette.size;  // the first free entry (unused when neither is sent)
    plan.keepTolerance = exact ? 0 : std::min(kMaxKeepTolerance, std::max(0, options.unchangedTolerance));
    int tableBits = TableBits(palette.size + (unchanged || keyed ? 1 : 0));
    plan.minCodeSize = std::max(2, tableBits);

    SinkWriter writer;
    InitSinkWriter(&writer, sink);
    // Decoders that restore "to background" with the background colour then show the page.
    WriteHeader(&writer, plan.width, plan.height, palette, tableBits, keyed ? plan.transparentIndex : 0);
    if (!EncodeFrames(plan, threads, &writer)) return false;
    WriteTrailer(&writer);
    Flush(&writer);
    return !writer.failed;
}

}  // namespace

EncodeOptions DefaultEncodeOptions() {
    EncodeOptions options;
    options.threads = 0;
    options.ditherStrength = 65;  // stronger fills smooth areas with noise that ssimulacra and the bytes count against
    options.unchangedPixels = true;
    options.unchangedTolerance = 70;  // about 8 levels: invisible, and saves a sixth of the bytes
    return options;
}

bool EncodeAnimation(const Frame* frames, int count, int delayCs, ByteSink sink) {
    return EncodeAnimationWithOptions(frames, count, delayCs, sink, DefaultEncodeOptions());
}

bool EncodeAnimationWithOptions(const Frame* frames, int count, int delayCs, ByteSink sink,
                                const EncodeOptions& options) {
    if (!ValidArguments(frames, count, delayCs, sink)) return false;
    try {
        return Encode(frames, count, delayCs, sink, options);
    } catch (...) {
        return false;  // std::bad_alloc, or a thread library failure
    }
}

}  // namespace gif

// The GIF encoder's entry point: argument checks, the shared palette, the file structure (header,
// loop extension, one image per frame, trailer) and the spreading of the work over threads.
#include "imaging/gif/gif_encoder.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "imaging/gif/gif_dither.h"
#include "imaging/gif/gif_lzw.h"
#include "imaging/gif/gif_nearest.h"
#include "imaging/gif/gif_palette.h"

namespace gif {

namespace {

using namespace detail;

const int kMaxSide = 65535;
const int kMaxThreads = 8;
const int kIndexBuffers = 3;  // the frame being written, the one before it and the next one

bool AppendToVector(void* context, const uint8_t* bytes, size_t count) {
    try {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), bytes, bytes + count);
        return true;
    } catch (...) {
        return false;
    }
}

bool ValidArguments(const Frame* frames, int count, int delayCs, const ByteSink& sink) {
    if (!frames || count < 1 || !sink.write || delayCs < 0 || delayCs > 65535) return false;
    for (int f = 0; f < count; ++f) {
        const Frame& frame = frames[f];
        if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxSide || frame.height > kMaxSide) return false;
        if (frame.width != frames[0].width || frame.height != frames[0].height) return false;
        if (!frame.firstRow) return false;
        ptrdiff_t rowBytes = ptrdiff_t(frame.width) * 3;
        if (frame.stride < rowBytes && -frame.stride < rowBytes) return false;
    }
    // Three index buffers of the frame's size must be addressable.
    uint64_t pixels = uint64_t(frames[0].width) * uint64_t(frames[0].height);
    return pixels <= uint64_t(SIZE_MAX) / 4;
}

// ---- File structure.

void PutByte(SinkWriter* w, int value) {
    uint8_t b = uint8_t(value);
    Put(w, &b, 1);
}

void PutWord(SinkWriter* w, int value) {
    PutByte(w, value & 0xFF);
    PutByte(w, (value >> 8) & 0xFF);
}

// Smallest power-of-two table (at least 2 entries) holding `entries`, as its bit count.
int TableBits(int entries) {
    int bits = 1;
    while ((1 << bits) < entries) bits++;
    return bits;
}

void WriteHeader(SinkWriter* w, int width, int height, const Palette& palette, int tableBits) {
    Put(w, reinterpret_cast<const uint8_t*>("GIF89a"), 6);
    PutWord(w, width);
    PutWord(w, height);
    PutByte(w, 0x80 | 0x70 | (tableBits - 1));  // global table, 8 bits per primary
    PutByte(w, 0);                              // background colour index
    PutByte(w, 0);                              // square pixels
    for (int k = 0; k < (1 << tableBits); ++k) {
        Rgb c = k < palette.size ? palette.colours[k] : Rgb{0, 0, 0};
        uint8_t rgb[3] = {c.r, c.g, c.b};
        Put(w, rgb, 3);
    }
    // Application extension: loop the animation forever.
    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                            0x03, 0x01, 0x00, 0x00, 0x00};
    Put(w, loop, sizeof(loop));
}

void WriteFrameHeader(SinkWriter* w, int width, int height, int delayCs, int transparentIndex) {
    // Graphic control: "do not dispose", so pixels sent as transparent keep the earlier frame's.
    PutByte(w, 0x21);
    PutByte(w, 0xF9);
    PutByte(w, 4);
    PutByte(w, 1 << 2 | (transparentIndex >= 0 ? 1 : 0));
    PutWord(w, delayCs);
    PutByte(w, transparentIndex >= 0 ? transparentIndex : 0);
    PutByte(w, 0);
    // Image descriptor: the whole screen, no local table, not interlaced.
    PutByte(w, 0x2C);
    PutWord(w, 0);
    PutWord(w, 0);
    PutWord(w, width);
    PutWord(w, height);
    PutByte(w, 0);
}

// ---- The work: every frame is mapped in bands of rows (error diffusion restarts at each band,
// so bands are independent and the result does not depend on who maps them), then LZW-encoded
// and written, one frame after another.

struct Plan {
    const Frame* frames;
    int count;
    int delayCs;
    int width, height;
    int bandRows, bandCount;
    const Palette* palette;
    const NearestGrid* grid;
    const CentreMap* centreMap;
    bool dither;
    bool unchanged;       // frames after the first send pixels that stay as "unchanged"
    int unchangedIndex;
    int keepTolerance;
    int minCodeSize;
};

struct Progress {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> bandClaimed, bandDone;  // [frame * bandCount + band]
    int framesWritten;
    int bandsWritten;  // leading bands of frame framesWritten given to its LZW encoding
    bool writing;
    bool failed;
};

struct Work {
    const Plan* plan;
    Progress* progress;
    std::vector<uint8_t>* buffers;  // kIndexBuffers index buffers, frame f in buffers[f % kIndexBuffers]
    LzwTables lzwTables;
    LzwImage* lzwImage;  // the frame being written
    SinkWriter* writer;
};

// Map band `band` of `frame`, or write `frame` as far as its first `band` bands, from band `from`.
struct Task {
    enum Kind { kNone, kMap, kWrite, kStop } kind;
    int frame, band, from;
};

uint8_t* IndicesOf(const Work& work, int frame) { return work.buffers[frame % kIndexBuffers].data(); }

// Called with the mutex held. Writing comes first, band by band as the frame's leading bands are
// mapped: it is the one chain of work that cannot be shared, so it should neither wait for a band
// that could have been mapped later nor be left alone at the end with a whole frame to encode.
Task NextTask(const Work& work) {
    const Plan& plan = *work.plan;
    Progress& p = *work.progress;
    if (p.failed || p.framesWritten == plan.count) return Task{Task::kStop, 0, 0, 0};
    if (!p.writing) {
        int leading = p.bandsWritten;
        while (leading < plan.bandCount && p.bandDone[p.framesWritten * plan.bandCount + leading]) leading++;
        if (leading > p.bandsWritten) return Task{Task::kWrite, p.framesWritten, leading, p.bandsWritten};
    }
    // A frame may start once its buffer's previous user (three frames back) is no longer read.
    int lastStartable = std::min(plan.count - 1, p.framesWritten + 1);
    for (int f = p.framesWritten; f <= lastStartable; ++f) {
        for (int b = 0; b < plan.bandCount; ++b) {
            int slot = f * plan.bandCount + b;
            if (p.bandClaimed[slot]) continue;
            bool shownReady = !plan.unchanged || f == 0 || p.bandDone[slot - plan.bandCount];
            if (shownReady) return Task{Task::kMap, f, b, 0};
        }
    }
    return Task{Task::kNone, 0, 0, 0};
}

void MapTask(const Work& work, const Task& task, int16_t* errorRows, uint32_t* memo) {
    const Plan& plan = *work.plan;
    BandJob job;
    job.frame = &plan.frames[task.frame];
    job.firstRow = task.band * plan.bandRows;
    job.endRow = std::min(plan.height, job.firstRow + plan.bandRows);
    job.palette = plan.palette;
    job.grid = plan.grid;
    job.centreMap = plan.centreMap;
    job.shown = plan.unchanged && task.frame > 0 ? IndicesOf(work, task.frame - 1) : nullptr;
    job.keepTolerance = plan.keepTolerance;
    job.dither = plan.dither;
    job.indices = IndicesOf(work, task.frame);
    job.errorRows = errorRows;
    job.memo = memo;
    MapBand(job);
}

void StartFrame(const Work& work, int frame) {
    const Plan& plan = *work.plan;
    bool sendsUnchanged = plan.unchanged && frame > 0;
    WriteFrameHeader(work.writer, plan.width, plan.height, plan.delayCs, sendsUnchanged ? plan.unchangedIndex : -1);
    LzwInput input;
    input.shown = IndicesOf(work, frame);
    input.previous = sendsUnchanged ? IndicesOf(work, frame - 1) : nullptr;
    input.unchangedIndex = plan.unchangedIndex;
    input.pixelCount = size_t(plan.width) * size_t(plan.height);
    input.minCodeSize = plan.minCodeSize;
    input.tables = work.lzwTables;
    StartLzwImage(input, work.writer, work.lzwImage);
}

void WriteTask(const Work& work, const Task& task) {
    const Plan& plan = *work.plan;
    if (task.from == 0) StartFrame(work, task.frame);
    size_t readyPixels = task.band == plan.bandCount ? size_t(plan.width) * size_t(plan.height)
                                                     : size_t(task.band) * size_t(plan.bandRows) * size_t(plan.width);
    ContinueLzwImage(work.lzwImage, readyPixels);
}

void RunWorker(const Work& work, int16_t* errorRows, uint32_t* memo) {
    Progress& p = *work.progress;
    std::unique_lock<std::mutex> lock(p.mutex);
    for (;;) {
        Task task = NextTask(work);
        if (task.kind == Task::kStop) break;
        if (task.kind == Task::kNone) {
            p.changed.wait(lock);
            continue;
        }
        int slot = task.frame * work.plan->bandCount + task.band;  // of a map task
        if (task.kind == Task::kMap) p.bandClaimed[slot] = 1;
        if (task.kind == Task::kWrite) p.writing = true;
        lock.unlock();
        if (task.kind == Task::kMap) MapTask(work, task, errorRows, memo);
        if (task.kind == Task::kWrite) WriteTask(work, task);
        lock.lock();
        if (task.kind == Task::kMap) {
            p.bandDone[slot] = 1;
        } else {
            p.writing = false;
            p.bandsWritten = task.band;
            if (task.band == work.plan->bandCount) {
                p.framesWritten++;
                p.bandsWritten = 0;
            }
            if (work.writer->failed) p.failed = true;
        }
        p.changed.notify_all();
    }
}

int ThreadCount(const EncodeOptions& options) {
    int threads = options.threads;
    if (threads <= 0) threads = int(std::thread::hardware_concurrency());
    return std::max(1, std::min(threads, kMaxThreads));
}

bool RunFrames(const Plan& plan, int threadCount, SinkWriter* writer) {
    size_t pixels = size_t(plan.width) * size_t(plan.height);
    std::vector<uint8_t> buffers[kIndexBuffers];
    for (int k = 0; k < std::min(plan.count, kIndexBuffers); ++k) buffers[k].resize(pixels);
    std::vector<uint16_t> lzwChildren(kLzwChildEntries, 0);
    std::vector<uint32_t> lzwSlots(kLzwCodes);
    std::unique_ptr<LzwImage> lzwImage(new LzwImage);
    size_t errorValues = kErrorRowsPerBand * kErrorLanes * (size_t(plan.width) + 2);
    std::vector<int16_t> errorRows(errorValues * size_t(threadCount));
    std::vector<uint32_t> memos(kMemoEntries * size_t(threadCount));

    Progress progress;
    progress.bandClaimed.assign(size_t(plan.count) * plan.bandCount, 0);
    progress.bandDone.assign(size_t(plan.count) * plan.bandCount, 0);
    progress.framesWritten = 0;
    progress.bandsWritten = 0;
    progress.writing = false;
    progress.failed = false;
    Work work{&plan, &progress, buffers, LzwTables{lzwChildren.data(), lzwSlots.data()}, lzwImage.get(),
              writer};

    std::vector<std::thread> helpers;
    helpers.reserve(threadCount - 1);
    for (int t = 1; t < threadCount; ++t) {
        try {
            helpers.emplace_back(RunWorker, std::cref(work), errorRows.data() + errorValues * t,
                                 memos.data() + kMemoEntries * t);
        } catch (...) {
            break;  // fewer threads only make it slower
        }
    }
    RunWorker(work, errorRows.data(), memos.data());
    for (std::thread& helper : helpers) helper.join();
    return !progress.failed && progress.framesWritten == plan.count;
}

bool Encode(const Frame* frames, int count, int delayCs, ByteSink sink, const EncodeOptions& options) {
    Palette palette;
    bool exact = CollectExactColours(frames, count, 256, &palette);
    bool unchanged = options.unchangedPixels && count > 1 && (!exact || palette.size < 256);
    if (!exact) BuildQuantisedPalette(frames, count, unchanged ? 255 : 256, &palette);
    NearestGrid grid;
    BuildNearestGrid(palette, palette.size, &grid);
    bool dither = options.dither && !exact;
    CentreMap centreMap;
    if (dither) BuildCentreMap(grid, &centreMap);

    Plan plan;
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
    plan.dither = dither;
    plan.unchanged = unchanged;
    plan.unchangedIndex = palette.size;  // the first free entry (unused when not sending "unchanged")
    plan.keepTolerance = exact ? 0 : std::max(0, options.unchangedTolerance);
    int tableBits = TableBits(palette.size + (unchanged ? 1 : 0));
    plan.minCodeSize = std::max(2, tableBits);

    SinkWriter writer;
    InitSinkWriter(&writer, sink);
    WriteHeader(&writer, plan.width, plan.height, palette, tableBits);
    if (!RunFrames(plan, ThreadCount(options), &writer)) return false;
    PutByte(&writer, 0x3B);
    Flush(&writer);
    return !writer.failed;
}

}  // namespace

ByteSink VectorSink(std::vector<uint8_t>* out) { return ByteSink{out, &AppendToVector}; }

EncodeOptions DefaultEncodeOptions() {
    EncodeOptions options;
    options.threads = 0;
    options.dither = true;
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

// Spreads the mapping of every frame over threads and feeds the mapped bands to the frames' LZW
// encoding in order. Writing comes first whenever it can go on: it is the one chain of work that
// cannot be shared.
#include "imaging/gif/gif_schedule.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/gif/gif_blocks.h"
#include "imaging/gif/gif_dither.h"
#include "imaging/gif/gif_lzw.h"

namespace gif {
namespace detail {

namespace {

const int kIndexBuffers = 3;  // the frame being written, the one before it and the next one

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
    const FramePlan* plan;
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

// A frame after one left in place may send pixels already on screen as "unchanged"; after a
// cleared one the screen shows only the page.
bool SendsUnchanged(const FramePlan& plan, int frame) {
    return plan.unchanged && frame > 0 && !plan.transparency[frame - 1].clearAfter;
}

// Called with the mutex held. Writing comes first, band by band as the frame's leading bands are
// mapped: it is the one chain of work that cannot be shared, so it should neither wait for a band
// that could have been mapped later nor be left alone at the end with a whole frame to encode.
Task NextTask(const Work& work) {
    const FramePlan& plan = *work.plan;
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
            bool shownReady = !SendsUnchanged(plan, f) || p.bandDone[slot - plan.bandCount];
            if (shownReady) return Task{Task::kMap, f, b, 0};
        }
    }
    return Task{Task::kNone, 0, 0, 0};
}

void MapTask(const Work& work, const Task& task, int16_t* errorRows, uint32_t* memo) {
    const FramePlan& plan = *work.plan;
    BandJob job;
    job.frame = &plan.frames[task.frame];
    job.firstRow = task.band * plan.bandRows;
    job.endRow = std::min(plan.height, job.firstRow + plan.bandRows);
    job.palette = plan.palette;
    job.grid = plan.grid;
    job.centreMap = plan.centreMap;
    job.shown = SendsUnchanged(plan, task.frame) ? IndicesOf(work, task.frame - 1) : nullptr;
    job.transparentIndex = plan.transparentIndex;
    job.keepTolerance = plan.keepTolerance;
    job.ditherStrength = plan.ditherStrength;
    job.indices = IndicesOf(work, task.frame);
    job.errorRows = errorRows;
    job.memo = memo;
    MapBand(job);
}

void StartFrame(const Work& work, int frame) {
    const FramePlan& plan = *work.plan;
    bool sendsUnchanged = SendsUnchanged(plan, frame);
    // In a keyed animation every frame names the transparent entry, used or not: some decoders
    // give the screen an alpha channel only when the first frame names one, and clear a frame to
    // its transparent entry rather than to the page.
    bool namesTransparent = sendsUnchanged || plan.keyed;
    WriteFrameHeader(work.writer, plan.width, plan.height, plan.delayCs, namesTransparent ? plan.transparentIndex : -1,
                     plan.transparency[frame].clearAfter);
    LzwInput input;
    input.shown = IndicesOf(work, frame);
    input.previous = sendsUnchanged ? IndicesOf(work, frame - 1) : nullptr;
    input.unchangedIndex = plan.transparentIndex;
    input.pixelCount = size_t(plan.width) * size_t(plan.height);
    input.minCodeSize = plan.minCodeSize;
    input.tables = work.lzwTables;
    StartLzwImage(input, work.writer, work.lzwImage);
}

void WriteTask(const Work& work, const Task& task) {
    const FramePlan& plan = *work.plan;
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

}  // namespace

void RunParallel(int threadCount, int taskCount, const std::function<void(int)>& task) {
    std::atomic<int> next{0};
    auto work = [&] {
        for (int t = next++; t < taskCount; t = next++) task(t);
    };
    std::vector<std::thread> helpers;
    int helperCount = std::min(threadCount, taskCount) - 1;
    for (int t = 0; t < helperCount; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // fewer threads only make it slower
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

bool EncodeFrames(const FramePlan& plan, int threadCount, SinkWriter* writer) {
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

}  // namespace detail
}  // namespace gif

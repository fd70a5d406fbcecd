// Writing animated GIFs: hands prepared images to the GIF encoder and writes its bytes to a file,
// whole or not at all, or to an open stream.
#include <cerrno>
#include <vector>

#include "imaging/atomic_file.h"
#include "imaging/failure.h"
#include "imaging/gif/gif_encoder.h"
#include "imaging/handles.h"
#include "imaging/imaging.h"

namespace imaging {

using namespace detail;

namespace {

// The frames as the encoder reads them, or false when a handle is unknown or unprepared or the
// sizes differ. A bottom-up DIB starts its top row at the last stored row and walks backwards.
bool CollectFrames(const Handle* handles, int32_t count, std::vector<gif::Frame>* frames) {
    frames->reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        const Slot* slot = FindSlot(handles[i]);
        if (slot == nullptr || slot->pixels == nullptr) return false;
        if (i > 0 && (slot->width != frames->front().width || slot->height != frames->front().height)) {
            return false;
        }
        const uint8_t* topRow = slot->pixels + slot->stride * (slot->height - 1);
        frames->push_back({slot->width, slot->height, -slot->stride, topRow, slot->transparentKey});
    }
    return true;
}

bool WriteToPendingFile(void* context, const uint8_t* bytes, size_t count) {
    return WriteToFile(static_cast<PendingFile*>(context), bytes, count);
}

bool WriteToStream(void* context, const uint8_t* bytes, size_t count) {
    if (std::fwrite(bytes, 1, count, static_cast<std::FILE*>(context)) == count) return true;
    SetFailure(FailureOfWrite(errno));
    return false;
}

// Encodes the prepared images behind `frames` into `sink`. False, with the reason recorded (a
// failed write records its own), on bad frames or a lack of memory; `frames` has been checked.
bool EncodeImages(const Handle* frames, int32_t count, int32_t delayCs, gif::ByteSink sink) {
    try {
        std::vector<gif::Frame> gifFrames;
        if (!CollectFrames(frames, count, &gifFrames)) {
            SetFailure(Failure::kInvalidArgument);
            return false;
        }
        if (gif::EncodeAnimation(gifFrames.data(), count, delayCs, sink)) return true;
        SetFailureUnlessSet(Failure::kOutOfMemory);  // no write failed: the encoder ran out of memory
    } catch (...) {  // std::bad_alloc from the frame list
        SetFailure(Failure::kOutOfMemory);
    }
    return false;
}

}  // namespace

int WriteAnimatedGif(const char* path, const Handle* frames, int32_t count, int32_t delayCs) {
    ClearFailure();
    if (path == nullptr || frames == nullptr || count < 1) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    PendingFile file;
    if (!BeginFile(path, &file)) return 0;
    if (!EncodeImages(frames, count, delayCs, {&file, WriteToPendingFile})) {
        AbandonFile(&file);
        return 0;
    }
    return CommitFile(&file) ? 1 : 0;
}

int WriteAnimatedGifToStream(std::FILE* stream, const Handle* frames, int32_t count, int32_t delayCs) {
    ClearFailure();
    if (stream == nullptr || frames == nullptr || count < 1) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    if (!EncodeImages(frames, count, delayCs, {stream, WriteToStream})) return 0;
    if (std::fflush(stream) == 0) return 1;
    SetFailure(FailureOfWrite(errno));
    return 0;
}

}  // namespace imaging

// WriteAnimatedGif: hands prepared images to the GIF encoder and writes its bytes whole or not at all.
#include <vector>

#include "imaging/atomic_file.h"
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
        frames->push_back({slot->width, slot->height, -slot->stride, topRow, gif::kOpaque});
    }
    return true;
}

bool WriteToPendingFile(void* context, const uint8_t* bytes, size_t count) {
    return WriteToFile(static_cast<PendingFile*>(context), bytes, count);
}

}  // namespace

int WriteAnimatedGif(const char* path, const Handle* frames, int32_t count, int32_t delayCs) {
    if (path == nullptr || frames == nullptr || count < 1) return 0;
    try {
        std::vector<gif::Frame> gifFrames;
        if (!CollectFrames(frames, count, &gifFrames)) return 0;
        PendingFile file;
        if (!BeginFile(path, &file)) return 0;
        if (!gif::EncodeAnimation(gifFrames.data(), count, delayCs, {&file, WriteToPendingFile})) {
            AbandonFile(&file);
            return 0;
        }
        return CommitFile(&file) ? 1 : 0;
    } catch (...) {  // std::bad_alloc from the frame list or the file names
        return 0;
    }
}

}  // namespace imaging

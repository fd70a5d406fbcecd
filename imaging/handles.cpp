// The handle table: slots, handles with generations, and the records Info hands out.
#include "imaging/handles.h"

#include "imaging/dib.h"

namespace imaging::detail {

Slot g_slots[kSlotCount];

namespace {
uint32_t g_nextSlot = 0;  // where the search for a free slot starts
}

Slot* TakeSlot() {
    for (uint32_t tried = 0; tried < kSlotCount; ++tried) {
        const uint32_t index = (g_nextSlot + tried) & kSlotMask;
        Slot& slot = g_slots[index];
        if (slot.handle != 0) continue;
        const uint32_t generation = slot.generation + 1 < kGenerationLimit ? slot.generation + 1 : 1;
        slot = Slot{};
        slot.generation = generation;
        slot.handle = (generation << kSlotBits) | index;
        g_nextSlot = index + 1;
        return &slot;
    }
    return nullptr;
}

void FreeSlot(Slot* slot) {
    FreeDib(slot->pixels);
    ReleaseDecoded(&slot->decoded);
    const uint32_t generation = slot->generation;
    *slot = Slot{};
    slot->generation = generation;
}

void DescribeSlot(Slot* slot, int32_t width, int32_t height) {
    slot->width = width;
    slot->height = height;
    slot->stride = ptrdiff_t(DibStride(width));
    BitmapInfoHeader& header = slot->header;
    header = BitmapInfoHeader{};
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = 0;  // BI_RGB
    header.biSizeImage = uint32_t(slot->stride * height);
    slot->info.recordSize = sizeof(ImageInfo);
    slot->info.handle = slot->handle;
    slot->info.header = &slot->header;
    slot->info.pixels = slot->pixels;
    slot->info.transparentKey = slot->transparentKey;
}

}  // namespace imaging::detail

// The handle table: a fixed array of image slots. A handle carries its slot in the low bits and
// the slot's generation above them, so a released handle stays refused after its slot is reused.
#pragma once

#include <cstdint>

#include "imaging/decode.h"
#include "imaging/imaging.h"

namespace imaging::detail {

constexpr uint32_t kSlotBits = 10;
constexpr uint32_t kSlotCount = uint32_t(1) << kSlotBits;
static_assert(kSlotCount == kMaxImages, "the table holds kMaxImages images");
constexpr uint32_t kSlotMask = kSlotCount - 1;
constexpr uint32_t kGenerationLimit = uint32_t(1) << (32 - kSlotBits);

struct Slot {
    Handle handle;            // 0 while the slot is free
    uint32_t generation;      // of the last handle this slot gave out; never 0 once used
    int32_t width;            // upright size, as the header reports it
    int32_t height;
    ptrdiff_t stride;         // DibStride(width)
    uint8_t* pixels;          // the DIB once prepared; null before
    int32_t transparentKey = -1;  // see transparency.h
    DecodedImage decoded;     // the decoder's rows until the image is prepared
    BitmapInfoHeader header;
    ImageInfo info;
};

extern Slot g_slots[kSlotCount];

// The slot that `image` names, or null for 0, a released or an unknown handle.
inline Slot* FindSlot(Handle image) {
    Slot& slot = g_slots[image & kSlotMask];
    return image != 0 && slot.handle == image ? &slot : nullptr;
}

// Takes a free slot and gives it a new handle (its other fields cleared), or null when the
// table is full. Slots are handed out in turn, so a freed slot is reused as late as possible.
Slot* TakeSlot();

// Frees whatever the slot holds and returns it to the table; its handle is refused afterwards.
void FreeSlot(Slot* slot);

// Sets the slot's size, stride, header and info record for a width x height picture.
void DescribeSlot(Slot* slot, int32_t width, int32_t height);

}  // namespace imaging::detail

// The image library's handle operations: load, prepare, describe, copy, read, resize, release.
// (The animated GIF writer is in gif_writer.cpp.)
#include "imaging/imaging.h"

#include <cstring>

#include "imaging/decode.h"
#include "imaging/dib.h"
#include "imaging/failure.h"
#include "imaging/geometry.h"
#include "imaging/handles.h"
#include "imaging/resize.h"
#include "imaging/system_path.h"

namespace imaging {

using namespace detail;

namespace {

// Gives a decoded picture a slot, or releases it and records why it cannot have one.
Handle HoldDecoded(DecodedImage* decoded) {
    const int32_t width = OrientedWidth(*decoded);
    const int32_t height = OrientedHeight(*decoded);
    Slot* slot = AcceptSize(width, height) ? TakeSlot() : nullptr;
    if (slot == nullptr) {
        SetFailureUnlessSet(Failure::kOutOfMemory);  // the table is full
        ReleaseDecoded(decoded);
        return 0;
    }
    slot->decoded = *decoded;
    DescribeSlot(slot, width, height);
    return slot->handle;
}

}  // namespace

Handle LoadFile(const char* path) {
    ClearFailure();
    if (path == nullptr) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    DecodedImage decoded;
    return DecodeFile(path, &decoded) ? HoldDecoded(&decoded) : 0;
}

Handle LoadStream(std::FILE* stream) {
    ClearFailure();
    if (stream == nullptr) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    uint64_t fileBytes = 0;
    std::FILE* spooled = SpoolStream(stream, CurrentLimits().memoryBytes, &fileBytes);
    if (spooled == nullptr) return 0;
    DecodedImage decoded;
    const bool ok = DecodeOpenFile(spooled, fileBytes, &decoded);
    std::fclose(spooled);
    return ok ? HoldDecoded(&decoded) : 0;
}

int Prepare(Handle image) {
    ClearFailure();
    Slot* slot = FindSlot(image);
    if (slot == nullptr) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    if (slot->pixels != nullptr) return 1;
    uint8_t* dib = AllocateDib(slot->width, slot->height);
    if (dib == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        return 0;
    }
    slot->transparentKey = ConvertToDib(slot->decoded, dib);
    slot->info.transparentKey = slot->transparentKey;
    // From here on only the DIB is needed; giving the decoder's rows back now keeps a large
    // picture from being held twice while its copies are made.
    ReleaseDecoded(&slot->decoded);
    slot->pixels = dib;
    slot->info.pixels = dib;
    return 1;
}

const ImageInfo* Info(Handle image) {
    const Slot* slot = FindSlot(image);
    return slot != nullptr ? &slot->info : nullptr;
}

Handle Duplicate(Handle image) {
    ClearFailure();
    const Slot* source = FindSlot(image);
    if (source == nullptr || source->pixels == nullptr) {
        SetFailure(Failure::kInvalidArgument);
        return 0;
    }
    uint8_t* pixels = AllocateDib(source->width, source->height);
    Slot* copy = pixels != nullptr ? TakeSlot() : nullptr;
    if (copy == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        FreeDib(pixels);
        return 0;
    }
    std::memcpy(pixels, source->pixels, size_t(source->stride * source->height));
    copy->pixels = pixels;
    copy->transparentKey = source->transparentKey;
    DescribeSlot(copy, source->width, source->height);
    return copy->handle;
}

uint32_t ReadPixel(Handle image, int32_t x, int32_t y) {
    const Slot& slot = g_slots[image & kSlotMask];
    // A free slot has handle 0 and no pixels, so handle 0 and unprepared images fall out here too.
    if (slot.handle != image || slot.pixels == nullptr) return 0;
    if (uint32_t(x) >= uint32_t(slot.width) || uint32_t(y) >= uint32_t(slot.height)) return 0;
    const uint8_t* pixel = slot.pixels + slot.stride * (slot.height - 1 - y) + 3 * x;
    return uint32_t(pixel[2]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[0]) << 16;
}

void Resize(Handle image, int32_t width, int32_t height) {
    ClearFailure();
    Slot* slot = FindSlot(image);
    if (slot == nullptr || slot->pixels == nullptr) {
        SetFailure(Failure::kInvalidArgument);
        return;
    }
    const Size target = ResizeTarget({slot->width, slot->height}, width, height);
    if (target.width == slot->width && target.height == slot->height) return;
    uint8_t* resized =
        ResampleDib(slot->pixels, slot->width, slot->height, target.width, target.height, slot->transparentKey);
    if (resized == nullptr) {
        SetFailure(DibSizeAcceptable(target.width, target.height) ? Failure::kOutOfMemory : Failure::kTooLarge);
        return;
    }
    FreeDib(slot->pixels);
    slot->pixels = resized;
    DescribeSlot(slot, target.width, target.height);
}

void Release(Handle image) {
    Slot* slot = FindSlot(image);
    if (slot != nullptr) FreeSlot(slot);
}

}  // namespace imaging

// Builds prepared images straight in the handle table, so the library's core can be tested
// without any decoder or file.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/dib.h"
#include "imaging/handles.h"

namespace core_test {

// A prepared width x height image whose pixel (x, y) (y from the top) has colour(x, y) as a
// COLORREF; 0 when the table is full.
inline imaging::Handle MakeImage(int32_t width, int32_t height,
                                 const std::function<uint32_t(int32_t, int32_t)>& colour) {
    using namespace imaging::detail;
    uint8_t* pixels = AllocateDib(width, height);
    if (pixels == nullptr) return 0;
    Slot* slot = TakeSlot();
    if (slot == nullptr) {
        FreeDib(pixels);
        return 0;
    }
    slot->pixels = pixels;
    DescribeSlot(slot, width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            uint8_t* p = pixels + slot->stride * (height - 1 - y) + 3 * x;
            p[0] = uint8_t(c >> 16);
            p[1] = uint8_t(c >> 8);
            p[2] = uint8_t(c);
        }
    }
    return slot->handle;
}

inline uint32_t Distinct(int32_t x, int32_t y) { return uint32_t(x * 7 + 1) | uint32_t(y * 13 + 2) << 8 | 0x5A0000u; }

}  // namespace core_test

// Resampling of 24-bit DIB pixel arrays with stb_image_resize; the one place it is compiled.
#include "imaging/resize.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb/stb_image_resize.h>

#include "imaging/dib.h"
#include "imaging/imaging.h"

namespace imaging::detail {

uint8_t* ResampleDib(const uint8_t* pixels, int32_t width, int32_t height, int32_t newWidth,
                     int32_t newHeight) {
    uint8_t* out = AllocateDib(newWidth, newHeight);
    if (out == nullptr) return nullptr;
    // Rows are bottom-up on both sides, so the order needs no care; sRGB-aware filtering keeps
    // fine light-dark detail from darkening when it is averaged away.
    const int ok = stbir_resize_uint8_srgb(pixels, width, height, int(DibStride(width)), out,
                                           newWidth, newHeight, int(DibStride(newWidth)), 3,
                                           STBIR_ALPHA_CHANNEL_NONE, 0);
    if (!ok) {
        FreeDib(out);
        return nullptr;
    }
    return out;
}

}  // namespace imaging::detail

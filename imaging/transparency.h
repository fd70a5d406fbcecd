// How transparency rides through the library. A GIF pixel is either opaque or transparent, and
// the conversion's frames are 24-bit DIBs that the warp redraws by copying one source pixel to
// each destination pixel. So a picture with transparent pixels reserves one colour that none of
// its opaque pixels has, its key, and stores its transparent pixels as that colour: the warp then
// carries transparency exactly where it carries the pixels (a destination pixel is transparent
// exactly when the source pixel it samples is), duplicates copy it with the bytes, the resize
// treats the key as alpha 0 and re-derives it, and the GIF encoder sends the key as its
// transparent index. A picture without transparent pixels has no key (-1), and its frames are
// what they always were.
//
// Partly transparent pixels (an anti-aliased edge) are cut at half opacity and keep their own,
// unblended colour: blending them onto any one background (white, say) would leave a fringe of
// that background around the picture on a page of another colour, while the unblended colour is
// right on every page, as far as a one-bit edge can be.
#pragma once

#include <cstdint>
#include <vector>

namespace imaging::detail {

// Pixels at least this opaque (of 255) are shown; the others are transparent.
constexpr unsigned kOpaqueAlpha = 128;

constexpr int32_t kNoKey = -1;

// A colour as keys are written: 0xRRGGBB.
inline uint32_t PackedColour(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
}

// Remembers which colours the opaque pixels of a picture use, to choose a key none of them has.
struct ColoursInUse {
    std::vector<uint8_t> bits;  // one bit per 24-bit colour, or empty when memory ran out
};

// Starts an empty record (2 MB); when memory runs out the record stays empty, and ChooseKey
// then takes a fixed colour that MoveOffKey keeps the opaque pixels from.
void StartColoursInUse(ColoursInUse* colours);
inline void NoteColour(ColoursInUse* colours, uint32_t packed) {
    if (!colours->bits.empty()) colours->bits[packed >> 3] |= uint8_t(1u << (packed & 7));
}

// A colour no noted pixel has (always the same one for the same pixels).
int32_t ChooseKey(const ColoursInUse& colours);

// An opaque pixel that would read as the key is moved one level of blue away from it, an
// invisible change that keeps it opaque. `bgr` is a DIB pixel: blue, green, red.
inline void MoveOffKey(uint8_t* bgr, int32_t key) {
    if (key >= 0 && PackedColour(bgr[2], bgr[1], bgr[0]) == uint32_t(key)) bgr[0] ^= 1;
}

inline void StoreKey(uint8_t* bgr, int32_t key) {
    bgr[0] = uint8_t(key);
    bgr[1] = uint8_t(key >> 8);
    bgr[2] = uint8_t(key >> 16);
}

inline bool IsKey(const uint8_t* bgr, int32_t key) {
    return key >= 0 && PackedColour(bgr[2], bgr[1], bgr[0]) == uint32_t(key);
}

}  // namespace imaging::detail

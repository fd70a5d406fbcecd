// Choosing a picture's transparent key.
#include "imaging/transparency.h"

#include <new>

namespace imaging::detail {

namespace {

constexpr uint32_t kColours = uint32_t(1) << 24;
// Searched from here: a saturated magenta is rare in photos and drawings alike, and a key that
// is found at once keeps the search short.
constexpr uint32_t kPreferredKey = 0xFF00FF;

}  // namespace

void StartColoursInUse(ColoursInUse* colours) {
    try {
        colours->bits.assign(kColours / 8, 0);
    } catch (const std::bad_alloc&) {
        colours->bits.clear();
    }
}

int32_t ChooseKey(const ColoursInUse& colours) {
    if (colours.bits.empty()) return int32_t(kPreferredKey);
    for (uint32_t n = 0; n < kColours; ++n) {
        const uint32_t colour = (kPreferredKey + n) & (kColours - 1);
        if ((colours.bits[colour >> 3] & (1u << (colour & 7))) == 0) return int32_t(colour);
    }
    return int32_t(kPreferredKey);  // every colour is in use: MoveOffKey makes room
}

}  // namespace imaging::detail

// The limits every load is held to: one record, read by the size checks and the decoders.
#include "imaging/imaging.h"

namespace imaging {

namespace {
Limits g_limits = kDefaultLimits;
}

void SetLimits(const Limits& limits) {
    g_limits.memoryBytes = limits.memoryBytes != 0 ? limits.memoryBytes : kDefaultLimits.memoryBytes;
    g_limits.decodeSeconds = limits.decodeSeconds != 0 ? limits.decodeSeconds : kDefaultLimits.decodeSeconds;
}

Limits CurrentLimits() { return g_limits; }

}  // namespace imaging

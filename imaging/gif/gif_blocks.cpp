// The GIF89a blocks of a looping animation, written to the encoder's sink.
#include "imaging/gif/gif_blocks.h"

namespace gif {
namespace detail {

int TableBits(int entries) {
    int bits = 1;
    while ((1 << bits) < entries) bits++;
    return bits;
}

void WriteHeader(SinkWriter* w, int width, int height, const Palette& palette, int tableBits, int backgroundIndex) {
    Put(w, reinterpret_cast<const uint8_t*>("GIF89a"), 6);
    PutWord(w, width);
    PutWord(w, height);
    PutByte(w, 0x80 | 0x70 | (tableBits - 1));  // global table, 8 bits per primary
    PutByte(w, backgroundIndex);
    PutByte(w, 0);                              // square pixels
    for (int k = 0; k < (1 << tableBits); ++k) {
        Rgb c = k < palette.size ? palette.colours[k] : Rgb{0, 0, 0};
        uint8_t rgb[3] = {c.r, c.g, c.b};
        Put(w, rgb, 3);
    }
    // Application extension: loop the animation forever.
    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                            0x03, 0x01, 0x00, 0x00, 0x00};
    Put(w, loop, sizeof(loop));
}

void WriteFrameHeader(SinkWriter* w, int width, int height, int delayCs, int transparentIndex, bool clearAfter) {
    // Graphic control. "Do not dispose" lets pixels sent as transparent keep the earlier frame's;
    // "restore to background" lets the next frame's transparent pixels show the page.
    const int doNotDispose = 1, restoreToBackground = 2;
    PutByte(w, 0x21);
    PutByte(w, 0xF9);
    PutByte(w, 4);
    PutByte(w, (clearAfter ? restoreToBackground : doNotDispose) << 2 | (transparentIndex >= 0 ? 1 : 0));
    PutWord(w, delayCs);
    PutByte(w, transparentIndex >= 0 ? transparentIndex : 0);
    PutByte(w, 0);
    // Image descriptor: the whole screen, no local table, not interlaced.
    PutByte(w, 0x2C);
    PutWord(w, 0);
    PutWord(w, 0);
    PutWord(w, width);
    PutWord(w, height);
    PutByte(w, 0);
}

void WriteTrailer(SinkWriter* w) { PutByte(w, 0x3B); }

}  // namespace detail
}  // namespace gif

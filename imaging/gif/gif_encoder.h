// The GIF encoder: turns a few same-size 24-bit frames into one looping animated GIF,
// with one palette shared by all frames, error-diffusion dithering and LZW, written to a byte sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gif {

// One frame: width x height pixels of blue, green, red bytes. Row y (from the top) starts at
// firstRow + y * stride; a bottom-up DIB passes its last stored row and a negative stride.
// transparentKey is -1 for an opaque frame, otherwise a colour 0xRRGGBB: the frame's pixels of
// exactly that colour are transparent, and show the page behind the animation.
struct Frame {
    int32_t width;
    int32_t height;
    ptrdiff_t stride;
    const uint8_t* firstRow;
    int32_t transparentKey;
};

const int32_t kOpaque = -1;  // a Frame's transparentKey when no pixel is transparent

// Where the encoded bytes go. write returns false on failure, which ends the encoding.
struct ByteSink {
    void* context;
    bool (*write)(void* context, const uint8_t* bytes, size_t count);
};

// A sink that appends to a std::vector<uint8_t> passed as its context.
ByteSink VectorSink(std::vector<uint8_t>* out);

// Encodes frames[0..count) (all of one size) as an animation that loops forever, each frame shown
// for delayCs hundredths of a second. Returns false on bad arguments (a transparentKey other than
// -1 or a 24-bit colour among them), allocation failure or a failed write; it never throws.
bool EncodeAnimation(const Frame* frames, int count, int delayCs, ByteSink sink);

// Choices behind EncodeAnimation, for measuring what each one buys. The bytes written depend only
// on the frames and these choices, never on the number of threads.
struct EncodeOptions {
    int threads;              // worker threads; 0 picks the machine's core count
    int ditherStrength;       // error diffusion, in percent of full Floyd-Steinberg, when the frames
                              // hold more than 256 colours; 0 maps every pixel to its nearest colour
    bool unchangedPixels;     // frames after the first mark pixels whose shown colour is close enough
    int unchangedTolerance;   // how much farther (squared RGB distance) the shown colour may be
};

// The choices EncodeAnimation uses.
EncodeOptions DefaultEncodeOptions();

bool EncodeAnimationWithOptions(const Frame* frames, int count, int delayCs, ByteSink sink,
                                const EncodeOptions& options);

}  // namespace gif

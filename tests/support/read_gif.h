// A GIF read back by a decoder that is not ours (Pillow or ImageMagick, through read_gif.py), for
// the tests of the GIF encoder and of the image library. Native build only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace read_gif {

// The decoders read_gif.py knows, by the names it takes.
constexpr const char* kDecoders[] = {"pillow", "imagemagick"};

// The animation as the decoder shows it.
struct ShownGif {
    bool ok = false;  // the decoder ran and reported
    int frames = 0;
    int width = 0;
    int height = 0;
    std::string delaysMs;      // one a frame, comma-separated: "60,60,60"
    std::string loop;          // repetitions: "0" forever, "-1" when the file plays once
    int channels = 3;          // 3: red, green, blue; 4: with alpha, 0 where the page shows through
    std::vector<uint8_t> rgb;  // every frame as composited on screen, top row first, one after another
};

// Reads the GIF at `path` with `decoder`, as RGB or (withAlpha) RGBA; the raw frames pass through
// a file beside it.
ShownGif ReadGif(const std::string& decoder, const std::string& path, bool withAlpha = false);

// Frame `frame`'s bytes within `gif.rgb`; null when the decoder gave fewer frames.
const uint8_t* FrameRgb(const ShownGif& gif, int frame);

}  // namespace read_gif

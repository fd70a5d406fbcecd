// Test pictures for the GIF encoder and a reader of a GIF's block structure (it checks the
// framing and every sub-block length, and leaves the LZW codes to the real decoders).
#include "gif_test_frames.h"

#include <algorithm>
#include <set>

namespace giftest {

std::vector<Picture> DrawFrames(int frames, int width, int height, uint32_t (*colourAt)(int, int, int)) {
    std::vector<Picture> pictures;
    for (int f = 0; f < frames; ++f) {
        Picture p{width, height, ptrdiff_t(width) * 3, std::vector<uint8_t>(size_t(width) * height * 3)};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint32_t c = colourAt(f, x, y);
                uint8_t* px = &p.bgr[(size_t(y) * width + x) * 3];
                px[0] = uint8_t(c);
                px[1] = uint8_t(c >> 8);
                px[2] = uint8_t(c >> 16);
            }
        }
        pictures.push_back(std::move(p));
    }
    return pictures;
}

namespace {

int g_colourLimit = 16;

uint32_t FewColourAt(int f, int x, int y) {
    int block = ((x + f) / 5 * 7 + (y / 4) * 3 + (x * y % 11 == 0 ? 1 : 0)) % g_colourLimit;
    return uint32_t(block * 2654435761u) & 0xFFFFFFu;
}

uint32_t PhotoLikeAt(int f, int x, int y) {
    // Smooth ramps that wrap every ~100 pixels, blue following them with a little texture: like a
    // photo, the colours lie near a surface in the cube rather than filling it.
    int sx = x + f, r = (sx * 255) / 97 % 256, g = (y * 255) / 61 % 256;
    int b = (r + g) / 2 * 9 / 10 + (sx * 31 + y * 17) % 9;
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

}  // namespace

std::vector<Picture> FewColourFrames(int frames, int width, int height, int colours) {
    g_colourLimit = colours;
    return DrawFrames(frames, width, height, FewColourAt);
}

std::vector<Picture> PhotoLikeFrames(int frames, int width, int height) {
    return DrawFrames(frames, width, height, PhotoLikeAt);
}

namespace {

uint32_t ColourAt(const Picture& picture, int x, int y) {
    const uint8_t* px = &picture.bgr[size_t(y) * size_t(picture.stride) + size_t(x) * 3];
    return uint32_t(px[2]) << 16 | uint32_t(px[1]) << 8 | px[0];
}

}  // namespace

void MakeTransparent(std::vector<Picture>* pictures, bool (*transparentAt)(int, int, int)) {
    std::set<uint32_t> opaque;
    for (size_t f = 0; f < pictures->size(); ++f) {
        const Picture& p = (*pictures)[f];
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                if (!transparentAt(int(f), x, y)) opaque.insert(ColourAt(p, x, y));
            }
        }
    }
    uint32_t key = 0xFF00FF;
    while (opaque.count(key)) key = (key + 1) & 0xFFFFFF;
    for (size_t f = 0; f < pictures->size(); ++f) {
        Picture& p = (*pictures)[f];
        p.transparentKey = int32_t(key);
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                if (!transparentAt(int(f), x, y)) continue;
                uint8_t* px = &p.bgr[size_t(y) * size_t(p.stride) + size_t(x) * 3];
                px[0] = uint8_t(key);
                px[1] = uint8_t(key >> 8);
                px[2] = uint8_t(key >> 16);
            }
        }
    }
}

namespace {

bool InHole(int x, int y, int left) { return x >= left && x < left + 20 && y >= 10 && y < 30; }

}  // namespace

std::vector<TransparencyCase> TransparencyCases() {
    return {
        {"KeyColourNowhere", [](int, int, int) { return false; }, {1, 1, 1, 1, 1}},
        {"SameHoleInEveryFrame", [](int, int x, int y) { return InHole(x, y, 20); }, {1, 1, 1, 1, 1}},
        {"HoleOpensInFrameThree", [](int f, int x, int y) { return f >= 2 && InHole(x, y, 20); }, {1, 2, 1, 1, 1}},
        {"HoleOnlyInFirstFrame", [](int f, int x, int y) { return f == 0 && InHole(x, y, 20); }, {1, 1, 1, 1, 2}},
        {"HoleMovesEveryFrame", [](int f, int x, int y) { return InHole(x, y, 4 + 7 * f); }, {2, 2, 2, 2, 2}},
        {"AllOfFrameTwo", [](int f, int, int) { return f == 1; }, {2, 1, 1, 1, 1}},
        {"AllOfEveryFrame", [](int, int, int) { return true; }, {1, 1, 1, 1, 1}},
    };
}

bool IsTransparentPixel(const Picture& picture, int x, int y) {
    return picture.transparentKey != gif::kOpaque && ColourAt(picture, x, y) == uint32_t(picture.transparentKey);
}

std::vector<gif::Frame> FramesOf(const std::vector<Picture>& pictures) {
    std::vector<gif::Frame> frames;
    for (const Picture& p : pictures) frames.push_back(gif::Frame{p.width, p.height, p.stride, p.bgr.data(), p.transparentKey});
    return frames;
}

std::vector<uint8_t> Encode(const std::vector<Picture>& pictures, const gif::EncodeOptions& options) {
    std::vector<gif::Frame> frames = FramesOf(pictures);
    std::vector<uint8_t> out;
    if (!gif::EncodeAnimationWithOptions(frames.data(), int(frames.size()), 6, gif::VectorSink(&out), options)) {
        out.clear();
    }
    return out;
}

namespace {

struct Cursor {
    const std::vector<uint8_t>& bytes;
    size_t at;
    bool ok;

    int Byte() {
        if (at >= bytes.size()) {
            ok = false;
            return 0;
        }
        return bytes[at++];
    }
    int Word() {
        int lo = Byte();
        return lo | Byte() << 8;
    }
    // Skips sub-blocks up to the empty one; returns the bytes they held.
    size_t SubBlocks() {
        size_t total = 0;
        for (int length = Byte(); ok && length != 0; length = Byte()) {
            at += size_t(length);
            total += size_t(length);
            if (at > bytes.size()) ok = false;
        }
        return total;
    }
};

GifLayout Fail(GifLayout layout, const std::string& why) {
    layout.valid = false;
    layout.error = why;
    return layout;
}

}  // namespace

GifLayout ReadLayout(const std::vector<uint8_t>& gif) {
    GifLayout layout{};
    layout.loopCount = -1;
    Cursor in{gif, 0, true};
    if (gif.size() < 13) return Fail(layout, "too short");
    layout.signature.assign(gif.begin(), gif.begin() + 6);
    in.at = 6;
    layout.width = in.Word();
    layout.height = in.Word();
    int packed = in.Byte();
    in.Byte();
    in.Byte();
    layout.globalTable = (packed & 0x80) != 0;
    layout.globalTableEntries = layout.globalTable ? 2 << (packed & 7) : 0;
    in.at += size_t(layout.globalTableEntries) * 3;
    ImageBlock pending{};
    while (in.ok) {
        int introducer = in.Byte();
        if (introducer == 0x3B) {
            if (in.at != gif.size()) return Fail(layout, "bytes after the trailer");
            layout.valid = in.ok;
            return layout;
        }
        if (introducer == 0x21) {
            int label = in.Byte();
            if (label == 0xF9) {
                if (in.Byte() != 4) return Fail(layout, "graphic control size");
                int flags = in.Byte();
                pending.hasControl = true;
                pending.disposal = (flags >> 2) & 7;
                pending.transparent = (flags & 1) != 0;
                pending.delayCs = in.Word();
                pending.transparentIndex = in.Byte();
                if (in.Byte() != 0) return Fail(layout, "graphic control terminator");
            } else if (label == 0xFF) {
                size_t start = in.at;
                int length = in.Byte();
                std::string name(gif.begin() + long(start + 1), gif.begin() + long(std::min(gif.size(), start + 1 + size_t(length))));
                in.at = start + 1 + size_t(length);
                if (name == "NETSCAPE2.0") {
                    if (in.Byte() != 3 || in.Byte() != 1) return Fail(layout, "loop block");
                    layout.loopCount = in.Word();
                    if (in.Byte() != 0) return Fail(layout, "loop block terminator");
                } else {
                    in.SubBlocks();
                }
            } else {
                in.SubBlocks();
            }
        } else if (introducer == 0x2C) {
            ImageBlock image = pending;
            pending = ImageBlock{};
            image.left = in.Word();
            image.top = in.Word();
            image.width = in.Word();
            image.height = in.Word();
            int flags = in.Byte();
            image.localTable = (flags & 0x80) != 0;
            image.interlaced = (flags & 0x40) != 0;
            if (image.localTable) in.at += size_t(2 << (flags & 7)) * 3;
            image.minCodeSize = in.Byte();
            image.dataBytes = in.SubBlocks();
            layout.images.push_back(image);
        } else {
            return Fail(layout, "unknown block " + std::to_string(introducer));
        }
    }
    return Fail(layout, "ran past the end");
}

}  // namespace giftest

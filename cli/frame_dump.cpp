// Writes frames as PNG files: top-down RGB (or RGBA) rows made from the bottom-up BGR frame, then
// stb's PNG writer.
#include "cli/frame_dump.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_files.h"
#include "cli/console.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

static void WriteToFile(void* context, void* bytes, int count) {
    std::fwrite(bytes, 1, size_t(count), static_cast<std::FILE*>(context));
}

// The frame as top-down rows of RGB, or RGBA when it has transparent pixels (alpha 0 where a
// pixel is the frame's transparent key, 255 elsewhere).
static std::vector<uint8_t> TopDownPixels(const ImageInfo* info, int channels) {
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    const size_t stride = static_cast<size_t>(imaging::DibStride(width));
    const uint32_t key = static_cast<uint32_t>(info->transparentKey);
    std::vector<uint8_t> out(static_cast<size_t>(width) * channels * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = info->pixels + stride * static_cast<size_t>(height - 1 - y);
        uint8_t* px = out.data() + static_cast<size_t>(y) * width * channels;
        for (int32_t x = 0; x < width; ++x, in += 3, px += channels) {
            px[0] = in[2];
            px[1] = in[1];
            px[2] = in[0];
            if (channels == 4) px[3] = (uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0]) == key ? 0 : 255;
        }
    }
    return out;
}

static bool WriteFramePng(const std::string& file, const ImageInfo* info) {
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    const int channels = info->transparentKey >= 0 ? 4 : 3;
    const std::vector<uint8_t> pixels = TopDownPixels(info, channels);
    std::FILE* out = OpenForWriting(file);
    if (out == nullptr) return false;
    const bool encoded =
        stbi_write_png_to_func(WriteToFile, out, width, height, channels, pixels.data(), width * channels) != 0;
    const bool written = !std::ferror(out);
    return std::fclose(out) == 0 && encoded && written;
}

bool WriteFramePngs(const char* dir, const char* sourcePath, const ImageHandle* frames, int32_t count) {
    stbi_write_png_compression_level = 2;  // these are for inspection: favour speed
    bool written = true;
    for (int32_t n = 0; n < count; ++n) {
        std::string file = std::string(dir) + "/" + FileNameOf(sourcePath) + "_frame" + std::to_string(n + 1) + ".png";
        const ImageInfo* info = imaging::Info(frames[n]);
        if (info == nullptr || !WriteFramePng(file, info)) {
            PrintTo(stderr, "%s: could not write this frame\n", file.c_str());
            written = false;
        }
    }
    return written;
}

// Writes frames as PNG files: top-down RGB rows made from the bottom-up BGR frame, then stb's PNG writer.
#include "cli/frame_dump.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8  // the paths are UTF-8 on every platform
#include <stb/stb_image_write.h>

#include "cli/console.h"

static const char* FileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

static bool WriteFramePng(const std::string& file, const ImageInfo* info) {
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    const size_t stride = static_cast<size_t>(imaging::DibStride(width));
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = info->pixels + stride * static_cast<size_t>(height - 1 - y);
        uint8_t* out = rgb.data() + static_cast<size_t>(y) * width * 3;
        for (int32_t x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return stbi_write_png(file.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
}

bool WriteFramePngs(const char* dir, const char* sourcePath, const ImageHandle* frames, int32_t count) {
    stbi_write_png_compression_level = 2;  // these are for inspection: favour speed
    bool written = true;
    for (int32_t n = 0; n < count; ++n) {
        std::string file = std::string(dir) + "/" + FileName(sourcePath) + "_frame" + std::to_string(n + 1) + ".png";
        const ImageInfo* info = imaging::Info(frames[n]);
        if (info == nullptr || !WriteFramePng(file, info)) {
            PrintTo(stderr, "%s: could not write this frame\n", file.c_str());
            written = false;
        }
    }
    return written;
}

// Writes frames as PNG files: top-down RGB rows made from the bottom-up BGR frame, then stb's PNG writer.
#include "cli/frame_dump.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_files.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

static void WriteToFile(void* context, void* bytes, int count) {
    std::fwrite(bytes, 1, size_t(count), static_cast<std::FILE*>(context));
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
    std::FILE* out = OpenForWriting(file);
    if (out == nullptr) return false;
    const bool encoded = stbi_write_png_to_func(WriteToFile, out, width, height, 3, rgb.data(), width * 3) != 0;
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
            std::fprintf(stderr, "%s: could not write this frame\n", file.c_str());
            written = false;
        }
    }
    return written;
}

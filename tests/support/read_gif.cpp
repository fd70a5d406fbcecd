// Runs read_gif.py under the system's Python (which has Pillow) and collects what it reports.
#include "tests/support/read_gif.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace read_gif {

ShownGif ReadGif(const std::string& decoder, const std::string& path, bool withAlpha) {
    ShownGif shown;
    shown.channels = withAlpha ? 4 : 3;
    const std::string rawPath = path + "." + decoder + ".raw";
    const std::string command = "/usr/bin/python3 '" READ_GIF_SCRIPT "' " + decoder + " '" + path + "' '" + rawPath +
                                "' " + (withAlpha ? "rgba" : "rgb");
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return shown;
    char line[4096] = {};
    const bool reported = std::fgets(line, sizeof line, pipe) != nullptr;
    shown.ok = pclose(pipe) == 0 && reported;
    std::istringstream fields(line);
    fields >> shown.frames >> shown.width >> shown.height >> shown.delaysMs >> shown.loop;
    std::ifstream raw(rawPath, std::ios::binary);
    shown.rgb.assign(std::istreambuf_iterator<char>(raw), std::istreambuf_iterator<char>());
    raw.close();
    std::remove(rawPath.c_str());
    return shown;
}

const uint8_t* FrameRgb(const ShownGif& gif, int frame) {
    const size_t frameBytes = size_t(gif.width) * size_t(gif.height) * size_t(gif.channels);
    if (frame < 0 || frameBytes == 0 || (size_t(frame) + 1) * frameBytes > gif.rgb.size()) return nullptr;
    return gif.rgb.data() + size_t(frame) * frameBytes;
}

}  // namespace read_gif

// Helpers shared by the image library's tests: test data paths (Unix or Wine), PPM reading,
// hand-made BMP files and table-made images, scratch folders and pixel comparison.
#include "tests/imaging/test_support.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "imaging/dib.h"
#include "imaging/handles.h"

namespace fs = std::filesystem;

namespace testing_support {

std::string ToPlatformPath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        std::string windowsPath = "Z:" + path;
        std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
        return windowsPath;
    }
#endif
    return path;
}

std::string TestData(const std::string& relative) {
    return ToPlatformPath(std::string(WOBZY_TESTDATA) + "/" + relative);
}

bool TestDataPresent() {
    std::error_code error;
    return fs::exists(TestData("snake/snake.ppm"), error);
}

static bool SkipPnmSpace(std::istream& in) {
    for (;;) {
        int c = in.peek();
        if (c == '#') {
            std::string comment;
            std::getline(in, comment);
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            in.get();
        } else {
            return bool(in);
        }
    }
}

bool ReadPnm(const std::string& path, Picture* picture) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    if (!(in >> magic) || (magic != "P6" && magic != "P5")) return false;
    SkipPnmSpace(in);
    in >> width;
    SkipPnmSpace(in);
    in >> height;
    SkipPnmSpace(in);
    in >> maxval;
    in.get();  // the single white-space byte before the samples
    if (!in || width < 1 || height < 1 || maxval != 255 || width > 100000 || height > 100000) return false;
    const size_t channels = magic == "P6" ? 3 : 1;
    std::vector<uint8_t> samples(size_t(width) * height * channels);
    if (!in.read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size()))) return false;
    picture->width = width;
    picture->height = height;
    picture->pixels.resize(size_t(width) * height);
    for (size_t i = 0; i < picture->pixels.size(); ++i) {
        const uint8_t* s = &samples[i * channels];
        picture->pixels[i] = channels == 3 ? Rgb{s[0], s[1], s[2]} : Rgb{s[0], s[0], s[0]};
    }
    return true;
}

Picture PictureFromDib(imaging::Handle image) {
    Picture picture;
    const imaging::ImageInfo* info = imaging::Info(image);
    if (!info || !info->header || !info->pixels) return picture;
    const int width = info->header->biWidth;
    const int height = info->header->biHeight;
    const int64_t stride = imaging::DibStride(width);
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = info->pixels + (height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            picture.pixels[size_t(y) * width + x] = Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
        }
    }
    return picture;
}

Picture PictureFromReadPixel(imaging::Handle image) {
    Picture picture;
    const imaging::ImageInfo* info = imaging::Info(image);
    if (!info || !info->header) return picture;
    picture.width = info->header->biWidth;
    picture.height = info->header->biHeight;
    picture.pixels.resize(size_t(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t c = imaging::ReadPixel(image, x, y);
            picture.pixels[size_t(y) * picture.width + x] =
                Rgb{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)};
        }
    }
    return picture;
}

uint32_t ColorRef(Rgb c) { return uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16; }

Rgb DistinctColour(int x, int y) { return Rgb{uint8_t(10 + 20 * x), uint8_t(5 + 30 * y), uint8_t(200 - 7 * x - 3 * y)}; }

imaging::Handle MakeImage(int32_t width, int32_t height, const std::function<Rgb(int, int)>& color,
                          int32_t transparentKey) {
    using namespace imaging::detail;
    uint8_t* pixels = AllocateDib(width, height);
    if (pixels == nullptr) return 0;
    Slot* slot = TakeSlot();
    if (slot == nullptr) {
        FreeDib(pixels);
        return 0;
    }
    slot->pixels = pixels;
    slot->transparentKey = transparentKey;
    DescribeSlot(slot, width, height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + slot->stride * (height - 1 - y);
        for (int32_t x = 0; x < width; ++x) {
            const Rgb c = color(x, y);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
    return slot->handle;
}

std::string ParamName(const std::string& text) {
    std::string name = text;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

Difference Compare(const Picture& a, const Picture& b) {
    Difference d;
    if (a.width != b.width || a.height != b.height || a.pixels.empty()) {
        d.largest = 256;
        d.mean = 256;
        return d;
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const int diffs[3] = {std::abs(a.pixels[i].r - b.pixels[i].r), std::abs(a.pixels[i].g - b.pixels[i].g),
                              std::abs(a.pixels[i].b - b.pixels[i].b)};
        for (int v : diffs) {
            d.largest = std::max(d.largest, v);
            sum += uint64_t(v);
        }
    }
    d.mean = double(sum) / double(a.pixels.size() * 3);
    return d;
}

static void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

std::vector<uint8_t> BmpHeaders(int32_t width, int32_t height, uint32_t imageBytes, uint32_t fileBytes) {
    std::vector<uint8_t> out = {'B', 'M'};
    PutLe(out, fileBytes, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);  // pixels right after the two headers
    PutLe(out, 40, 4);
    PutLe(out, uint32_t(width), 4);
    PutLe(out, uint32_t(height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    PutLe(out, 0, 4);
    PutLe(out, imageBytes, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    return out;
}

std::vector<uint8_t> MakeBmp(int width, int height, const std::function<Rgb(int, int)>& color) {
    const uint32_t stride = uint32_t(imaging::DibStride(width));
    const uint32_t imageBytes = stride * uint32_t(height);
    std::vector<uint8_t> out = BmpHeaders(width, height, imageBytes, 54 + imageBytes);
    for (int row = height - 1; row >= 0; --row) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = color(x, row);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
        for (uint32_t pad = uint32_t(width) * 3; pad < stride; ++pad) out.push_back(0);
    }
    return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

bool CreateFolder(const std::string& path) {
    std::error_code error;
    return fs::create_directory(path, error);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

ScratchDir::ScratchDir() {
    // CTest runs each case in its own process, several at once: names must differ across them.
    static std::random_device entropy;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::ostringstream name;
        name << "wobzy-imgtest-" << std::hex << entropy() << entropy();
        std::error_code error;
        if (fs::create_directory(base / name.str(), error)) {
            path_ = (base / name.str()).string();
            return;
        }
    }
}

void WithBytesInFile(const std::vector<uint8_t>& bytes, const std::function<void(std::FILE*)>& read) {
    ScratchDir dir;
    if (dir.path().empty()) return read(nullptr);
    const std::string path = dir.file("bytes.bin");
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
        std::fseek(file, 0, SEEK_SET) == 0) {
        read(file);
    } else {
        read(nullptr);
    }
    if (file != nullptr) std::fclose(file);
}

ScratchDir::~ScratchDir() {
    if (path_.empty()) return;
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string ScratchDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::vector<std::string> ScratchDir::names() const {
    std::vector<std::string> result;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path_, error)) {
        result.push_back(entry.path().filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
}

imaging::Handle LoadPrepared(const ScratchDir& dir, const std::string& name,
                             const std::vector<uint8_t>& bytes) {
    const std::string path = dir.file(name);
    if (!WriteFile(path, bytes)) return 0;
    const imaging::Handle image = imaging::LoadFile(path.c_str());
    if (image == 0) return 0;
    if (!imaging::Prepare(image)) {
        imaging::Release(image);
        return 0;
    }
    return image;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace testing_support

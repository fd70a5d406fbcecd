// Helpers shared by the image library's tests: where the fetched test images live, a reference
// PPM reader, hand-made image files, images made straight in the handle table, scratch folders
// and pixel comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "imaging/imaging.h"

namespace testing_support {

// Path of a file under the fetched test data (scripts/fetch-test-images), in the form the
// library's LoadFile takes on this platform: under Wine a Unix path becomes Z:\...
std::string TestData(const std::string& relative);
bool TestDataPresent();
constexpr const char* kFetchHint = "test images missing: run scripts/fetch-test-images";

// Converts a Unix absolute path to what Windows programs see under Wine (Z:\ + backslashes);
// other paths are returned unchanged.
std::string ToPlatformPath(const std::string& path);

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A picture held by the test itself, top row first, independent of the library.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // width * height, row-major from the top
    Rgb at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Reads a binary PPM (P6) or PGM (P5) with maxval 255; returns false on anything else.
bool ReadPnm(const std::string& path, Picture* picture);

// The picture the library holds for a prepared handle, read through Info() (bottom-up rows).
Picture PictureFromDib(imaging::Handle image);
// The same picture read back one ReadPixel at a time.
Picture PictureFromReadPixel(imaging::Handle image);

uint32_t ColorRef(Rgb c);  // 0x00BBGGRR

// A different colour at every pixel of pictures up to 13 x 9, none of them black, so that a
// refused ReadPixel (0) cannot pass for a pixel.
Rgb DistinctColour(int x, int y);

// A prepared width x height image of `color(x, y)` (y from the top) built straight in the handle
// table, so that the library's core can be tested without any decoder or file; 0 when the table
// is full or memory runs out.
imaging::Handle MakeImage(int32_t width, int32_t height, const std::function<Rgb(int, int)>& color,
                          int32_t transparentKey = -1);

// A gtest parameter name made of the letters and digits of `text` ("bad/x.gif" -> "bad_x_gif").
std::string ParamName(const std::string& text);

// Largest and mean per-channel difference of two same-size pictures.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(const Picture& a, const Picture& b);

// Encodes a 24-bit bottom-up BMP of `color(x, y)` (y from the top), width * height pixels.
std::vector<uint8_t> MakeBmp(int width, int height, const std::function<Rgb(int, int)>& color);

// The file and info headers of a 24-bit BMP (54 bytes), pixels said to follow at once.
std::vector<uint8_t> BmpHeaders(int32_t width, int32_t height, uint32_t imageBytes, uint32_t fileBytes);

// Hands `read` a file holding `bytes`, open for reading at its start, under a name no other test
// process uses at the same time; the file is removed afterwards. `read` gets null if it cannot be made.
void WithBytesInFile(const std::vector<uint8_t>& bytes, const std::function<void(std::FILE*)>& read);

// The CRC-32 that PNG chunks and zlib use.
uint32_t Crc32(const uint8_t* data, size_t size);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool CreateFolder(const std::string& path);
bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes);

// A fresh empty folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;
    std::vector<std::string> names() const;  // sorted names of the entries inside

private:
    std::string path_;
};

// Loads `bytes` as a file in `dir` under `name` and prepares it; 0 if either step fails.
imaging::Handle LoadPrepared(const ScratchDir& dir, const std::string& name,
                             const std::vector<uint8_t>& bytes);

// Largest single heap request seen since the last reset (Linux: malloc, calloc, realloc and
// new of the whole process; requests above 1 GiB are refused so that a fault cannot exhaust
// the machine). Unavailable elsewhere.
bool AllocationProbeAvailable();
void ResetLargestAllocation();
size_t LargestAllocation();

}  // namespace testing_support

// libFuzzer target over the image library's path for untrusted files: the JPEG scan check (which
// the Windows build runs before WIC), LoadFile (decoding in this process, so the sanitizers see
// it), Prepare, Info, ReadPixel, the size-limit Resize, then at a small size copies, the shake
// warp and the GIF writer, and Release, all under AddressSanitizer and UBSan.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/image_operations.h"
#include "convert/shake_warp.h"
#include "imaging/decode.h"
#include "imaging/imaging.h"
#include "imaging/jpeg_scans.h"

namespace {

// LoadFile takes a path, so every input goes through one file of this process. Its name has
// no extension: the platform loader must recognise the format from the bytes.
const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/wobzy-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        return pattern;
    }();
    return path;
}

void RemoveInputFile() { std::remove(InputPath().c_str()); }

bool WriteInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

constexpr int32_t kSizeLimit = 400;
constexpr int32_t kWarpSide = 48;  // small, so that every input reaches the warp and the writer quickly
constexpr int32_t kFrames = 2;

// Two copies drawn through the shake warp and written as a GIF beside the input, then removed;
// the picture is resized down first.
void WarpAndWrite(imaging::Handle image) {
    const imaging::ImageInfo* info = imaging::Info(image);
    const bool wide = info->header->biWidth > info->header->biHeight;
    imaging::Resize(image, wide ? kWarpSide : -1, wide ? -1 : kWarpSide);
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    imaging::Handle frames[kFrames] = {};
    ShakeMesh mesh;
    const ShakeAmounts amounts = ComputeShakeAmounts(width, height, 20);
    for (imaging::Handle& frame : frames) {
        frame = imaging::Duplicate(image);
        if (frame == 0) std::abort();
        BuildShakeMesh(&mesh, width, height, amounts.horizontal, amounts.vertical);
        WarpFrame(kImagingLibraryOperations, &mesh, image, width, height, frame);
    }
    const std::string gif = InputPath() + "_wob.gif";
    if (imaging::WriteAnimatedGif(gif.c_str(), frames, kFrames, 6) == 0) std::abort();
    std::remove(gif.c_str());
    for (imaging::Handle frame : frames) imaging::Release(frame);
}

// Reads through the prepared DIB's corners, as the frame drawing does, and checks ReadPixel
// against the stored bytes.
void TouchPreparedImage(imaging::Handle image) {
    const imaging::ImageInfo* info = imaging::Info(image);
    if (!info || !info->header || !info->pixels) std::abort();
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    if (width < 1 || height < 1 || info->header->biBitCount != 24) std::abort();
    const int64_t stride = imaging::DibStride(width);
    const uint8_t* last = info->pixels + (height - 1) * stride + 3 * int64_t(width - 1);
    const uint32_t expected = uint32_t(last[2]) | uint32_t(last[1]) << 8 | uint32_t(last[0]) << 16;
    // Row H-1 of the bottom-up array is the top row.
    if (imaging::ReadPixel(image, width - 1, 0) != expected) std::abort();
    if (imaging::ReadPixel(image, width, 0) != 0 || imaging::ReadPixel(image, 0, -1) != 0) std::abort();
    (void)imaging::ReadPixel(image, 0, height - 1);
    // The program's size limit: the longer side to 400 pixels, the other following. (Asking for
    // a long following side of a long picture would only measure the resampler's known
    // quadratic set-up time, not find faults.)
    const bool wide = width > height;
    imaging::Resize(image, wide ? kSizeLimit : -1, wide ? -1 : kSizeLimit);
    const imaging::ImageInfo* resized = imaging::Info(image);
    if (!resized || !resized->header || !resized->pixels) std::abort();
    if ((wide ? resized->header->biWidth : resized->header->biHeight) != kSizeLimit) std::abort();
    (void)imaging::ReadPixel(image, resized->header->biWidth - 1, resized->header->biHeight - 1);
    WarpAndWrite(image);
}

// The scan check is the Windows build's own reading of a JPEG's entropy-coded data; the Linux
// decoder does not call it, so it is fed every input here.
void WalkJpegScans(uint64_t size) {
    std::FILE* file = std::fopen(InputPath().c_str(), "rb");
    if (file == nullptr) return;
    const imaging::detail::JpegScanReport report = imaging::detail::CheckJpegScans(file, size);
    std::fclose(file);
    if (report.verdict == imaging::detail::JpegScanVerdict::kWhole && report.scans == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InputPath();
    imaging::detail::DecodeInThisProcess(true);
    // Well under the run's memory limit: larger claims are refused from their headers.
    imaging::SetLimits({uint64_t(512) << 20, 0});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteInput(data, size)) return 0;
    WalkJpegScans(size);
    const imaging::Handle image = imaging::LoadFile(InputPath().c_str());
    RemoveInputFile();  // only a crash inside LoadFile leaves it behind
    if (image == 0) return 0;
    if (imaging::Prepare(image)) TouchPreparedImage(image);
    imaging::Release(image);
    if (imaging::Info(image) != nullptr) std::abort();  // released handles are refused
    return 0;
}

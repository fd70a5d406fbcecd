// The conversion of one file: load, prepare, five copies each drawn through its own jittered
// mesh, the optional size limit, the GIF beside the source, and the release of every image.
#include "convert/conversion_job.h"

#include <cstdlib>
#include <cstring>

#include "convert/image_ops.h"
#include "convert/shake_warp.h"
#include "convert/warning_box.h"

constexpr int32_t kFrameCount = 5;
constexpr int32_t kFrameDelay = 6;  // hundredths of a second per frame
static const char kOutputSuffix[] = "_wob.gif";

// The source first, then the copies that exist, in ascending order.
static void ReleaseImages(ImageHandle source, const ImageHandle* frames, int32_t frameCount) {
    ReleaseImage(source);
    for (int32_t n = 0; n < frameCount; ++n) ReleaseImage(frames[n]);
}

// path + "_wob.gif", the path kept whole; null when memory runs out.
static char* MakeOutputName(const char* path) {
    size_t length = std::strlen(path);
    if (length > SIZE_MAX - sizeof(kOutputSuffix)) return nullptr;
    char* name = static_cast<char*>(std::malloc(length + sizeof(kOutputSuffix)));
    if (name == nullptr) return nullptr;
    std::memcpy(name, path, length);
    std::memcpy(name + length, kOutputSuffix, sizeof(kOutputSuffix));
    return name;
}

// The limit fixes the longer side (the height when both are equal); the other side follows.
static void ApplySizeLimit(const ImageHandle* frames, int32_t width, int32_t height, int32_t limit) {
    if (width > height) {
        if (width <= limit) return;
        for (int32_t n = 0; n < kFrameCount; ++n) ResizeImage(frames[n], limit, -1);
    } else {
        if (height <= limit) return;
        for (int32_t n = 0; n < kFrameCount; ++n) ResizeImage(frames[n], -1, limit);
    }
}

void ConvertFile(const char* path) {
    ImageHandle source = LoadImageFile(path);
    if (source == 0) {
        ReportConversionError(0, path);
        return;
    }
    if (PrepareImage(source) == 0) {
        ReportConversionError(1, path);
        ReleaseImage(source);
        return;
    }
    const ImageInfo* info = GetImageInfo(source);
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    const ShakeAmounts amounts = ComputeShakeAmounts(width, height, conversionSettings.shakePercent);

    ImageHandle frames[kFrameCount] = {};
    for (int32_t n = 0; n < kFrameCount; ++n) {
        frames[n] = DuplicateImage(source);
        if (frames[n] == 0) {
            ReportConversionError(n + 2, path);
            ReleaseImages(source, frames, n);
            return;
        }
    }

    ShakeMesh mesh;
    for (int32_t n = 0; n < kFrameCount; ++n) {
        BuildShakeMesh(&mesh, width, height, amounts.horizontal, amounts.vertical);
        WarpFrame(&mesh, source, width, height, frames[n]);
    }
    if (conversionSettings.limitEnabled) ApplySizeLimit(frames, width, height, conversionSettings.sizeLimit);

    // A name that cannot be built means the GIF cannot be written: reported like a failed save.
    char* outputName = MakeOutputName(path);
    if (outputName == nullptr || WriteAnimatedGif(outputName, frames, kFrameCount, kFrameDelay) == 0)
        ReportConversionError(7, path);
    ReleaseImages(source, frames, kFrameCount);
    std::free(outputName);
}

// The conversion of one file: load, prepare, five copies each drawn through its own jittered
// mesh, the optional size limit, the GIF beside the source, and the release of every image.
#include "convert/conversion_job.h"

#include <cstdlib>
#include <cstring>

#include "convert/shake_warp.h"

const char kOutputSuffix[] = "_wob.gif";

// The source first, then the copies that exist, in ascending order.
static void ReleaseImages(const ImageOperations& images, ImageHandle source, const ImageHandle* frames,
                          int32_t frameCount) {
    images.release(source);
    for (int32_t n = 0; n < frameCount; ++n) images.release(frames[n]);
}

char* MakeOutputName(const char* path) {
    size_t length = std::strlen(path);
    if (length > SIZE_MAX - sizeof(kOutputSuffix)) return nullptr;
    char* name = static_cast<char*>(std::malloc(length + sizeof(kOutputSuffix)));
    if (name == nullptr) return nullptr;
    std::memcpy(name, path, length);
    std::memcpy(name + length, kOutputSuffix, sizeof(kOutputSuffix));
    return name;
}

// The limit fixes the longer side (the height when both are equal); the other side follows.
static void ApplySizeLimit(const ImageOperations& images, const ImageHandle* frames, int32_t width, int32_t height,
                           int32_t limit) {
    if (width > height) {
        if (width <= limit) return;
        for (int32_t n = 0; n < kFrameCount; ++n) images.resize(frames[n], limit, -1);
    } else {
        if (height <= limit) return;
        for (int32_t n = 0; n < kFrameCount; ++n) images.resize(frames[n], -1, limit);
    }
}

// Copy n + 1 of the source for every frame; on a failure reports it and releases all, false.
static bool MakeFrameSet(const ConversionHost& host, const char* path, ImageHandle source, ImageHandle* frames) {
    for (int32_t n = 0; n < kFrameCount; ++n) {
        frames[n] = host.images->duplicate(source);
        if (frames[n] == 0) {
            host.reportError(host.context, ConversionFailure(kFirstCopyFailed + n), path);
            ReleaseImages(*host.images, source, frames, n);
            return false;
        }
    }
    return true;
}

static void DrawFrames(const ImageOperations& images, ImageHandle source, const ImageHandle* frames, int32_t width,
                       int32_t height, ShakeAmounts amounts) {
    ShakeMesh mesh;
    for (int32_t n = 0; n < kFrameCount; ++n) {
        BuildShakeMesh(&mesh, width, height, amounts.horizontal, amounts.vertical);
        WarpFrame(images, &mesh, source, width, height, frames[n]);
    }
}

void ConvertFile(const ConversionHost& host, const char* path) {
    const ImageOperations& images = *host.images;
    ImageHandle source = images.load(path);
    if (source == 0) {
        host.reportError(host.context, kLoadFailed, path);
        return;
    }
    if (images.prepare(source) == 0) {
        host.reportError(host.context, kPrepareFailed, path);
        images.release(source);
        return;
    }
    const ImageInfo* info = images.info(source);
    const int32_t width = info->header->biWidth;
    const int32_t height = info->header->biHeight;
    const ShakeAmounts amounts = ComputeShakeAmounts(width, height, conversionSettings.shakePercent);

    ImageHandle frames[kFrameCount] = {};
    if (!MakeFrameSet(host, path, source, frames)) return;
    DrawFrames(images, source, frames, width, height, amounts);
    if (conversionSettings.limitEnabled) ApplySizeLimit(images, frames, width, height, conversionSettings.sizeLimit);
    if (host.observeFrames != nullptr) host.observeFrames(host.context, frames, kFrameCount);

    // A name that cannot be built means the GIF cannot be written: reported like a failed save.
    char* outputName = host.outputPath == nullptr ? MakeOutputName(path) : nullptr;
    const char* target = host.outputPath != nullptr ? host.outputPath : outputName;
    if (target == nullptr || images.writeGif(target, frames, kFrameCount, kFrameDelay) == 0)
        host.reportError(host.context, kSaveFailed, path);
    ReleaseImages(images, source, frames, kFrameCount);
    std::free(outputName);
}

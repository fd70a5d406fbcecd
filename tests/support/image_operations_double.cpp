// The recording image-operations double and a recording report of failures.
#include "tests/support/image_operations_double.h"

ImageOpsDouble imageOps;

void ResetImageOpsDouble() {
    for (DoubleImage* image : imageOps.images) delete image;
    imageOps = ImageOpsDouble{};
}

DoubleImage* DoubleImageOf(ImageHandle handle) {
    if (handle == 0 || handle > imageOps.images.size()) return nullptr;
    return imageOps.images[handle - 1];
}

static ImageHandle NewImage(int32_t width, int32_t height) {
    DoubleImage* image = new DoubleImage{};
    image->width = width;
    image->height = height;
    image->pixels.assign(static_cast<size_t>(imaging::DibStride(width) * height), 0);
    image->header = imaging::BitmapInfoHeader{40, width, height, 1, 24, 0, 0, 0, 0, 0, 0};
    imageOps.images.push_back(image);
    ImageHandle handle = static_cast<ImageHandle>(imageOps.images.size());
    image->info = ImageInfo{sizeof(ImageInfo), handle, &image->header, image->pixels.data()};
    return handle;
}

ImageHandle AddDoubleImage(int32_t width, int32_t height, uint32_t (*colourAt)(int32_t x, int32_t y)) {
    ImageHandle handle = NewImage(width, height);
    DoubleImage* image = DoubleImageOf(handle);
    const int64_t stride = imaging::DibStride(width);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t c = colourAt(x, y);
            uint8_t* p = image->pixels.data() + stride * (height - 1 - y) + 3 * x;
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
    return handle;
}

static void Record(const std::string& call) { imageOps.calls.push_back(call); }

static ImageHandle LoadImageFile(const char* path) {
    Record(std::string("load ") + path);
    return imageOps.failLoad ? 0 : NewImage(imageOps.loadWidth, imageOps.loadHeight);
}

static int32_t PrepareImage(ImageHandle image) {
    Record("prepare " + std::to_string(image));
    return imageOps.failPrepare ? 0 : 1;
}

static const ImageInfo* GetImageInfo(ImageHandle image) {
    Record("info " + std::to_string(image));
    DoubleImage* d = DoubleImageOf(image);
    return d ? &d->info : nullptr;
}

static ImageHandle DuplicateImage(ImageHandle image) {
    int copyNumber = 1;
    for (const std::string& call : imageOps.calls)
        if (call.rfind("duplicate ", 0) == 0) ++copyNumber;
    ImageHandle copy = 0;
    if (copyNumber != imageOps.failDuplicateNumber) {
        DoubleImage* source = DoubleImageOf(image);
        copy = NewImage(source->width, source->height);
        DoubleImageOf(copy)->pixels = source->pixels;
        DoubleImageOf(copy)->info.pixels = DoubleImageOf(copy)->pixels.data();
    }
    Record("duplicate " + std::to_string(image) + " -> " + std::to_string(copy));
    return copy;
}

uint32_t ReadDoublePixel(ImageHandle image, int32_t x, int32_t y) {
    DoubleImage* d = DoubleImageOf(image);
    if (d == nullptr || x < 0 || y < 0 || x >= d->width || y >= d->height) {
        Record("pixel outside " + std::to_string(x) + "," + std::to_string(y));
        return 0;
    }
    const uint8_t* p = d->pixels.data() + imaging::DibStride(d->width) * (d->height - 1 - y) + 3 * x;
    return static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[0]) << 16;
}

static void ResizeImage(ImageHandle image, int32_t width, int32_t height) {
    Record("resize " + std::to_string(image) + " " + std::to_string(width) + " " + std::to_string(height));
}

static int32_t WriteAnimatedGif(const char* path, const ImageHandle* frames, int32_t count, int32_t delay) {
    std::string call = std::string("write ") + path;
    for (int32_t n = 0; n < count; ++n) call += " " + std::to_string(frames[n]);
    Record(call + " count " + std::to_string(count) + " delay " + std::to_string(delay));
    return imageOps.failWrite ? 0 : 1;
}

static void ReleaseImage(ImageHandle image) { Record("release " + std::to_string(image)); }

const ImageOperations kRecordingImageOperations = {LoadImageFile, PrepareImage,     GetImageInfo, DuplicateImage,
                                                   ResizeImage,   WriteAnimatedGif, ReleaseImage};

static void RecordFailure(void*, ConversionFailure failure, const char* path) {
    Record("box " + std::to_string(failure) + " " + path);
}

ConversionHost RecordingHost() { return ConversionHost{&kRecordingImageOperations, RecordFailure, nullptr, nullptr}; }

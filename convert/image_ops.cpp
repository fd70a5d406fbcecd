// The image operations as the programs link them: straight calls into the image library.
#include "convert/image_ops.h"

ImageHandle LoadImageFile(const char* path) { return imaging::LoadFile(path); }
int32_t PrepareImage(ImageHandle image) { return imaging::Prepare(image); }
const ImageInfo* GetImageInfo(ImageHandle image) { return imaging::Info(image); }
ImageHandle DuplicateImage(ImageHandle image) { return imaging::Duplicate(image); }
uint32_t ReadImagePixel(ImageHandle image, int32_t x, int32_t y) { return imaging::ReadPixel(image, x, y); }
void ResizeImage(ImageHandle image, int32_t width, int32_t height) { imaging::Resize(image, width, height); }
void (*gifFramesObserver)(const char* path, const ImageHandle* frames, int32_t count) = nullptr;

int32_t WriteAnimatedGif(const char* path, const ImageHandle* frames, int32_t count, int32_t delay) {
    if (gifFramesObserver != nullptr) gifFramesObserver(path, frames, count);
    return imaging::WriteAnimatedGif(path, frames, count, delay);
}
void ReleaseImage(ImageHandle image) { imaging::Release(image); }

// The platform-independent half of the decoding seam: opening the file, heap rows, releasing a
// decoded picture and its size once upright.
#include "imaging/decode.h"

#include <cstdlib>

#include "imaging/system_path.h"

namespace imaging::detail {

namespace {

uint8_t* TakeFromHeap(void*, size_t bytes) { return static_cast<uint8_t*>(std::malloc(bytes)); }

}  // namespace

RowMemory HeapRows() { return RowMemory{TakeFromHeap, std::free, nullptr}; }

bool DecodeFile(const char* path, DecodedImage* out) {
    uint64_t fileBytes = 0;
    std::FILE* file = OpenPictureFile(path, &fileBytes);
    if (file == nullptr) return false;
    const bool decoded = DecodeOpenFile(file, fileBytes, out);
    std::fclose(file);
    return decoded;
}

void ReleaseDecoded(DecodedImage* image) {
    if (image->release != nullptr) image->release(image->owner);
    *image = DecodedImage{};
}

int32_t OrientedWidth(const DecodedImage& image) {
    return image.orientation >= 5 && image.orientation <= 8 ? image.height : image.width;
}

int32_t OrientedHeight(const DecodedImage& image) {
    return image.orientation >= 5 && image.orientation <= 8 ? image.width : image.height;
}

}  // namespace imaging::detail

// The platform-independent half of the decoding seam: releasing a decoded picture and its size
// once upright.
#include "imaging/decode.h"

namespace imaging::detail {

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

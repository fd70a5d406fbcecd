// The image library's operations as the programs hand them to the conversion.
#include "convert/image_operations.h"

const ImageOperations kImagingLibraryOperations = {
    imaging::LoadFile, imaging::Prepare,          imaging::Info,    imaging::Duplicate,
    imaging::Resize,   imaging::WriteAnimatedGif, imaging::Release,
};

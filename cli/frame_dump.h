// --frames: writes the five frames of a conversion, exactly as they go to the GIF encoder, as PNG files.
#pragma once

#include <cstdint>

#include "convert/image_operations.h"

// Writes dir/<file name of sourcePath>_frame<N>.png for N = 1 to count (dir already exists);
// names every file it could not write on stderr and returns false if there was one.
bool WriteFramePngs(const char* dir, const char* sourcePath, const ImageHandle* frames, int32_t count);

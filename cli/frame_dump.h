// --frames: writes the five frames of a conversion, exactly as they go to the GIF encoder, as PNG files.
#pragma once

#include <cstdint>

#include "convert/image_ops.h"

struct FrameDump {
    const char* dir;         // where the PNG files go
    const char* sourcePath;  // the file being converted: names the PNG files
    bool failed;             // a frame could not be written
};
extern FrameDump frameDump;

// Fits gifFramesObserver: writes dir/<source file name>_frame<N>.png for N = 1 to count.
void DumpFrames(const char* gifPath, const ImageHandle* frames, int32_t count);

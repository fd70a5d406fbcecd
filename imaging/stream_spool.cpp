// A picture read from a stream is kept in an unnamed temporary file, so that it goes through the
// same file checks and decoders as a picture on disk without being held in memory.
#include <cerrno>
#include <cstdlib>

#include "imaging/failure.h"
#include "imaging/system_path.h"

namespace imaging::detail {

namespace {

bool CopyStream(std::FILE* from, std::FILE* to, uint64_t largest, uint64_t* copied) {
    constexpr size_t kBlock = size_t(1) << 16;
    char* block = static_cast<char*>(std::malloc(kBlock));
    if (block == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    bool ok = true;
    *copied = 0;
    for (;;) {
        const size_t count = std::fread(block, 1, kBlock, from);
        if (count == 0) {
            if (std::ferror(from)) SetFailure(Failure::kReadError);
            ok = !std::ferror(from);
            break;
        }
        *copied += count;
        if (*copied > largest) {
            SetTooLarge(0, 0, *copied);
            ok = false;
            break;
        }
        if (std::fwrite(block, 1, count, to) != count) {
            SetFailure(FailureOfWrite(errno));
            ok = false;
            break;
        }
    }
    std::free(block);
    return ok && std::fflush(to) == 0;
}

}  // namespace

std::FILE* SpoolStream(std::FILE* stream, uint64_t largest, uint64_t* fileBytes) {
    std::FILE* spooled = OpenScratchFile();
    if (spooled == nullptr) return nullptr;
    if (!CopyStream(stream, spooled, largest, fileBytes) || std::fseek(spooled, 0, SEEK_SET) != 0) {
        SetFailureUnlessSet(Failure::kWriteError);
        std::fclose(spooled);
        return nullptr;
    }
    return spooled;
}

}  // namespace imaging::detail

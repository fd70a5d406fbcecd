// Positions in files of any size on both platforms.
#include "imaging/file_bytes.h"

namespace imaging::detail {

int64_t FilePosition(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return int64_t(ftello(file));
#endif
}

bool SeekTo(std::FILE* file, uint64_t offset) {
    if (offset > uint64_t(INT64_MAX)) return false;
#ifdef _WIN32
    return _fseeki64(file, int64_t(offset), SEEK_SET) == 0;
#else
    return fseeko(file, off_t(offset), SEEK_SET) == 0;
#endif
}

bool SkipBytes(std::FILE* file, uint64_t count, uint64_t fileBytes) {
    const int64_t position = FilePosition(file);
    if (position < 0 || uint64_t(position) + count > fileBytes) return false;
#ifdef _WIN32
    return _fseeki64(file, int64_t(count), SEEK_CUR) == 0;
#else
    return fseeko(file, off_t(count), SEEK_CUR) == 0;
#endif
}

}  // namespace imaging::detail

// On POSIX systems a path is bytes, passed to the system as they are.
#include "imaging/system_path.h"

namespace imaging::detail {

std::FILE* OpenForReading(const char* utf8Path) { return std::fopen(utf8Path, "rb"); }

}  // namespace imaging::detail

// The writer's file operations on POSIX systems.
#include "imaging/system_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging::detail {

int CurrentProcessId() { return int(getpid()); }

int CreateNewFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }

std::FILE* StreamOf(int descriptor) { return fdopen(descriptor, "wb"); }
void CloseDescriptor(int descriptor) { close(descriptor); }
bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }
bool RenameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }
void DeleteTemporary(const char* path) { unlink(path); }

}  // namespace imaging::detail

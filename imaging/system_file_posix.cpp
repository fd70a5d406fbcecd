// The writer's file operations on POSIX systems.
#include "imaging/system_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace imaging::detail {

int CurrentProcessId() { return int(getpid()); }

int CreateNewFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }

std::FILE* StreamOf(int descriptor) { return fdopen(descriptor, "wb"); }
void CloseDescriptor(int descriptor) { close(descriptor); }
bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }
bool RenameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }
void DeleteTemporary(const char* path) { unlink(path); }

int CreateUnnamedFile(const char* folder) {
#ifdef O_TMPFILE
    return open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Without privileges a descriptor is linked through its /proc entry.
bool NameUnnamedFile(std::FILE* stream, const char* path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream));
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}

bool ProcessGone(int processId) { return processId > 0 && kill(pid_t(processId), 0) != 0 && errno == ESRCH; }

void ForEachEntry(const char* folder, void (*visit)(void* context, const char* name), void* context) {
    DIR* entries = opendir(folder);
    if (entries == nullptr) return;
    while (const dirent* entry = readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) visit(context, entry->d_name);
    }
    closedir(entries);
}

}  // namespace imaging::detail

// Whole-or-nothing file writing: a temporary file beside the target, renamed over it at the end.
// Paths are narrow strings in the system's code page (the ANSI code page on Windows).
#include "imaging/atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace imaging::detail {

namespace {

uint32_t g_tempCounter = 0;  // makes the names of one process's temporary files distinct

#ifdef _WIN32
int CurrentProcessId() { return int(GetCurrentProcessId()); }

int CreateNewFile(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

std::FILE* StreamOf(int descriptor) { return _fdopen(descriptor, "wb"); }
void CloseDescriptor(int descriptor) { _close(descriptor); }
bool SyncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }
bool ReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
void DeleteTemporary(const char* path) { DeleteFileA(path); }
#else
int CurrentProcessId() { return int(getpid()); }

int CreateNewFile(const char* path) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

std::FILE* StreamOf(int descriptor) { return fdopen(descriptor, "wb"); }
void CloseDescriptor(int descriptor) { close(descriptor); }
bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }
bool ReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }
void DeleteTemporary(const char* path) { unlink(path); }
#endif

constexpr int kNameAttempts = 64;
constexpr size_t kStreamBuffer = size_t(1) << 16;

}  // namespace

bool BeginFile(const char* path, PendingFile* file) {
    try {
        file->targetPath = path;
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            file->tempPath = file->targetPath + ".tmp-" + std::to_string(CurrentProcessId()) + "-" +
                             std::to_string(++g_tempCounter);
            const int descriptor = CreateNewFile(file->tempPath.c_str());
            if (descriptor < 0) {
                if (errno == EEXIST) continue;
                return false;
            }
            file->stream = StreamOf(descriptor);
            if (file->stream == nullptr) {
                CloseDescriptor(descriptor);
                DeleteTemporary(file->tempPath.c_str());
                return false;
            }
            std::setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
            file->failed = false;
            return true;
        }
    } catch (...) {  // std::bad_alloc from the path strings
    }
    return false;
}

bool WriteToFile(PendingFile* file, const uint8_t* bytes, size_t count) {
    if (file->failed || file->stream == nullptr) return false;
    if (count > 0 && std::fwrite(bytes, 1, count, file->stream) != count) file->failed = true;
    return !file->failed;
}

bool CommitFile(PendingFile* file) {
    if (file->stream == nullptr) return false;
    bool ok = !file->failed && std::fflush(file->stream) == 0 && !std::ferror(file->stream) &&
              SyncToDisk(file->stream);
    ok = std::fclose(file->stream) == 0 && ok;
    file->stream = nullptr;
    ok = ok && ReplaceFile(file->tempPath.c_str(), file->targetPath.c_str());
    if (!ok) DeleteTemporary(file->tempPath.c_str());
    return ok;
}

void AbandonFile(PendingFile* file) {
    if (file->stream == nullptr) return;
    std::fclose(file->stream);
    file->stream = nullptr;
    DeleteTemporary(file->tempPath.c_str());
}

}  // namespace imaging::detail

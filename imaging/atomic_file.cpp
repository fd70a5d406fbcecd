// Whole-or-nothing file writing: a temporary file beside the target, renamed over it at the end.
// Paths are UTF-8; the system calls are in system_file_posix.cpp and system_file_win.cpp.
#include "imaging/atomic_file.h"

#include <cerrno>

#include "imaging/failure.h"
#include "imaging/system_file.h"

namespace imaging::detail {

namespace {

uint32_t g_tempCounter = 0;  // makes the names of one process's temporary files distinct

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
                SetFailure(FailureOfWrite(errno));
                return false;
            }
            file->stream = StreamOf(descriptor);
            if (file->stream == nullptr) {
                SetFailure(Failure::kOutOfMemory);
                CloseDescriptor(descriptor);
                DeleteTemporary(file->tempPath.c_str());
                return false;
            }
            std::setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
            file->failed = false;
            return true;
        }
        SetFailure(Failure::kWriteError);  // every name tried was taken
    } catch (...) {  // std::bad_alloc from the path strings
        SetFailure(Failure::kOutOfMemory);
    }
    return false;
}

bool WriteToFile(PendingFile* file, const uint8_t* bytes, size_t count) {
    if (file->failed || file->stream == nullptr) return false;
    if (count > 0 && std::fwrite(bytes, 1, count, file->stream) != count) {
        SetFailure(FailureOfWrite(errno));
        file->failed = true;
    }
    return !file->failed;
}

bool CommitFile(PendingFile* file) {
    if (file->stream == nullptr) return false;
    bool ok = !file->failed && std::fflush(file->stream) == 0 && !std::ferror(file->stream) &&
              SyncToDisk(file->stream);
    if (!ok) SetFailureUnlessSet(FailureOfWrite(errno));
    if (std::fclose(file->stream) != 0 && ok) {
        SetFailure(FailureOfWrite(errno));
        ok = false;
    }
    file->stream = nullptr;
    if (ok && !RenameOver(file->tempPath.c_str(), file->targetPath.c_str())) {
        SetFailure(FailureOfWrite(errno));
        ok = false;
    }
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

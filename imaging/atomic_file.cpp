// Whole-or-nothing file writing: an unnamed or short-named temporary file in the target's folder,
// put in place of the target at the end. Paths are UTF-8; the system calls are in
// system_file_posix.cpp and system_file_win.cpp.
#include "imaging/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "imaging/failure.h"
#include "imaging/system_file.h"

namespace imaging::detail {

namespace {

uint32_t g_tempCounter = 0;  // makes the names of one process's temporary files distinct

constexpr int kNameAttempts = 64;
constexpr size_t kStreamBuffer = size_t(1) << 16;
constexpr char kTempPrefix[] = ".wobzy-";
constexpr char kTempSuffix[] = ".tmp";

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

// Digits up to `end`; false when there are none or they do not fit.
bool ParseNumber(const char* begin, const char* end, int* value) {
    if (begin == end || end - begin > 9) return false;
    int result = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        result = result * 10 + (*p - '0');
    }
    *value = result;
    return true;
}

void RemoveIfStale(void* context, const char* name) {
    int processId = 0;
    if (!IsTemporaryName(name, &processId) || processId == CurrentProcessId() || !ProcessGone(processId)) return;
    const std::string& folder = *static_cast<const std::string*>(context);
    DeleteTemporary((folder + "/" + name).c_str());
}

bool AttachStream(PendingFile* file, int descriptor) {
    file->stream = StreamOf(descriptor);
    if (file->stream == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        CloseDescriptor(descriptor);
        if (!file->tempPath.empty()) DeleteTemporary(file->tempPath.c_str());
        return false;
    }
    std::setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
    file->failed = false;
    return true;
}

// A named temporary file beside the target: a short name of this process that is not taken yet.
bool BeginNamed(const std::string& folder, PendingFile* file) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        file->tempPath = folder + "/" + kTempPrefix + std::to_string(CurrentProcessId()) + "-" +
                         std::to_string(++g_tempCounter) + kTempSuffix;
        const int descriptor = CreateNewFile(file->tempPath.c_str());
        if (descriptor >= 0) return AttachStream(file, descriptor);
        if (errno != EEXIST) {
            SetFailure(FailureOfWrite(errno));
            file->tempPath.clear();
            return false;
        }
    }
    file->tempPath.clear();
    SetFailure(Failure::kWriteError);  // every name tried was taken
    return false;
}

// Gives a finished unnamed file a name while it is still open: the target's, or, when an earlier
// file holds that name, a short one that then replaces it.
bool NameFinishedFile(PendingFile* file, const std::string& folder) {
    if (NameUnnamedFile(file->stream, file->targetPath.c_str())) return true;
    for (int attempt = 0; attempt < kNameAttempts && errno == EEXIST; ++attempt) {
        std::string name = folder + "/" + kTempPrefix + std::to_string(CurrentProcessId()) + "-" +
                           std::to_string(++g_tempCounter) + kTempSuffix;
        if (NameUnnamedFile(file->stream, name.c_str())) {
            file->tempPath = name;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string FolderOf(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1])) --end;
    if (end == 0) return ".";
    // The separator goes, but not the one of a root ("/", "C:\\"), nor a drive's colon.
    const bool root = end == 1 || path[end - 1] == ':' || (end >= 2 && path[end - 2] == ':');
    return path.substr(0, root ? end : end - 1);
}

bool IsTemporaryName(const char* name, int* processId) {
    const size_t length = std::strlen(name);
    const size_t prefix = sizeof kTempPrefix - 1;
    const size_t suffix = sizeof kTempSuffix - 1;
    if (length <= prefix + suffix || std::strncmp(name, kTempPrefix, prefix) != 0 ||
        std::strcmp(name + length - suffix, kTempSuffix) != 0) {
        return false;
    }
    const char* digits = name + prefix;
    const char* end = name + length - suffix;
    const char* dash = static_cast<const char*>(std::memchr(digits, '-', size_t(end - digits)));
    int counter = 0;
    return dash != nullptr && ParseNumber(digits, dash, processId) && ParseNumber(dash + 1, end, &counter);
}

bool BeginFile(const char* path, PendingFile* file, TemporaryKind kind) {
    try {
        file->targetPath = path;
        file->tempPath.clear();
        std::string folder = FolderOf(file->targetPath);
        ForEachEntry(folder.c_str(), RemoveIfStale, &folder);
        if (kind == TemporaryKind::kUnnamedWhereSupported) {
            const int descriptor = CreateUnnamedFile(folder.c_str());
            if (descriptor >= 0) return AttachStream(file, descriptor);
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) {
                SetFailure(FailureOfWrite(errno));
                return false;
            }
        }
        return BeginNamed(folder, file);
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
    const bool unnamed = file->tempPath.empty();
    try {
        if (ok && unnamed && !NameFinishedFile(file, FolderOf(file->targetPath))) {
            SetFailure(FailureOfWrite(errno));
            ok = false;
        }
    } catch (...) {  // std::bad_alloc from the names
        SetFailure(Failure::kOutOfMemory);
        ok = false;
    }
    if (std::fclose(file->stream) != 0 && ok) {
        SetFailure(FailureOfWrite(errno));
        ok = false;
    }
    file->stream = nullptr;
    const bool named = !file->tempPath.empty();
    if (ok && named && !RenameOver(file->tempPath.c_str(), file->targetPath.c_str())) {
        SetFailure(FailureOfWrite(errno));
        ok = false;
    }
    // Whatever failed, the temporary file goes (an unnamed one went with its descriptor).
    if (!ok && named) DeleteTemporary(file->tempPath.c_str());
    return ok;
}

void AbandonFile(PendingFile* file) {
    if (file->stream == nullptr) return;
    std::fclose(file->stream);
    file->stream = nullptr;
    if (!file->tempPath.empty()) DeleteTemporary(file->tempPath.c_str());
}

}  // namespace imaging::detail

// On POSIX systems a path is bytes, passed to the system as they are.
#include "imaging/system_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "imaging/failure.h"

namespace imaging::detail {

namespace {

std::FILE* Refuse(int descriptor, Failure failure) {
    close(descriptor);
    SetFailure(failure);
    return nullptr;
}

}  // namespace

std::FILE* OpenPictureFile(const char* utf8Path, uint64_t* fileBytes) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer, possibly forever.
    const int descriptor = open(utf8Path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        SetFailure(FailureOfOpen(errno));
        return nullptr;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) return Refuse(descriptor, Failure::kReadError);
    if (S_ISDIR(status.st_mode)) return Refuse(descriptor, Failure::kIsFolder);
    if (!S_ISREG(status.st_mode)) return Refuse(descriptor, Failure::kNotAFile);
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) return Refuse(descriptor, Failure::kReadError);
    std::FILE* file = fdopen(descriptor, "rb");
    if (file == nullptr) return Refuse(descriptor, Failure::kOutOfMemory);
    *fileBytes = uint64_t(status.st_size);
    return file;
}

std::FILE* OpenScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string base = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
    int descriptor = open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) {  // a file system without unnamed files: a name, removed at once
        std::string name = base + "/wobzy-stream-XXXXXX";
        descriptor = mkostemp(name.data(), O_CLOEXEC);
        if (descriptor >= 0) unlink(name.c_str());
    }
    if (descriptor < 0) {
        SetFailure(FailureOfWrite(errno));
        return nullptr;
    }
    std::FILE* file = fdopen(descriptor, "w+b");
    if (file == nullptr) {
        close(descriptor);
        SetFailure(Failure::kOutOfMemory);
    }
    return file;
}

}  // namespace imaging::detail

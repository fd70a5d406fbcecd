// Decoding on Linux in a child process. The parent checks the file's container and claimed size,
// then forks (no exec: the child shares the loaded libraries and the open file); the child, held
// to the memory and CPU limits by rlimits, decodes and leaves the rows in memory shared with the
// parent (a memfd), where the parent maps them without another copy. The parent waits up to the
// time limit and kills a child that runs over. A loader that crashes, runs out of memory or never
// ends costs the child only: the file is refused with its reason.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "imaging/completeness.h"
#include "imaging/decode_linux.h"
#include "imaging/failure.h"
#include "imaging/imaging.h"
#include "imaging/sniff.h"

namespace imaging::detail {

namespace {

bool g_decodeInThisProcess = false;

// Rows start at a page boundary of any page size Linux uses, after the child's report.
constexpr off_t kRowsOffset = 1 << 16;
constexpr uint32_t kReportMagic = 0x57425A31;  // "WBZ1"

struct ChildReport {
    uint32_t magic;
    uint32_t decoded;  // 1: rows of the size below follow at kRowsOffset
    FailureReport failure;
    int32_t width;
    int32_t height;
    int32_t order;
    int32_t orientation;
    int64_t rowStride;
    uint64_t rowBytes;
};

// ---- the child ----

struct SharedRows {
    int fd;
    uint8_t* rows = nullptr;
    size_t bytes = 0;
};

uint8_t* TakeShared(void* context, size_t bytes) {
    SharedRows* shared = static_cast<SharedRows*>(context);
    if (shared->rows != nullptr || bytes == 0 || ftruncate(shared->fd, kRowsOffset + off_t(bytes)) != 0) return nullptr;
    void* rows = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, shared->fd, kRowsOffset);
    if (rows == MAP_FAILED) return nullptr;
    shared->rows = static_cast<uint8_t*>(rows);
    shared->bytes = bytes;
    return shared->rows;
}

void KeepShared(void*) {}  // the child exits; the parent maps the rows itself

uint64_t BytesPerPixel(PixelOrder order) { return order == PixelOrder::Rgb ? 3 : 4; }

// Rows a decoder kept in its own memory (gdk-pixbuf's loaders) are copied into the shared memory,
// packed; rows a decoder wrote there already (JPEG) stay.
bool ShareRows(const DecodedImage& image, SharedRows* shared, int64_t* rowStride) {
    if (image.rows == shared->rows) {
        *rowStride = image.rowStride;
        return true;
    }
    const size_t packed = size_t(image.width) * BytesPerPixel(image.order);
    if (TakeShared(shared, packed * size_t(image.height)) == nullptr) return false;
    for (int32_t y = 0; y < image.height; ++y) {
        std::memcpy(shared->rows + packed * size_t(y), image.rows + image.rowStride * y, packed);
    }
    *rowStride = int64_t(packed);
    return true;
}

// The child's address space may grow by the memory limit (and the file, which it maps) beyond
// what it inherited; its CPU time is held to the time limit.
void LimitChild(uint64_t fileBytes) {
    const Limits limits = CurrentLimits();
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    constexpr uint64_t kLibrariesAndStacks = uint64_t(512) << 20;
    if (pages > 0) {
        const uint64_t space = uint64_t(pages) * uint64_t(sysconf(_SC_PAGESIZE)) + limits.memoryBytes + fileBytes +
                               kLibrariesAndStacks;
        const rlimit memory{rlim_t(space), rlim_t(space)};
        setrlimit(RLIMIT_AS, &memory);
    }
    const rlimit cpu{rlim_t(limits.decodeSeconds) + 1, rlim_t(limits.decodeSeconds) + 2};
    setrlimit(RLIMIT_CPU, &cpu);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

[[noreturn]] void RunChild(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, int fd, int done) {
    LimitChild(fileBytes);
    ClearFailure();
    SharedRows shared{fd};
    DecodedImage image;
    ChildReport report{};
    report.magic = kReportMagic;
    if (DecodeChecked(file, fileBytes, decodeBytes, RowMemory{TakeShared, KeepShared, &shared}, &image) &&
        ShareRows(image, &shared, &report.rowStride)) {
        report.decoded = 1;
        report.width = image.width;
        report.height = image.height;
        report.order = int32_t(image.order);
        report.orientation = image.orientation;
        report.rowBytes = shared.bytes;
    } else {
        SetFailureUnlessSet(Failure::kOutOfMemory);
    }
    report.failure = LastFailure();
    const bool written = pwrite(fd, &report, sizeof report, 0) == ssize_t(sizeof report);
    const char byte = written ? 1 : 0;
    (void)!write(done, &byte, 1);
    _exit(0);
}

// ---- the parent ----

int64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the child closes its end of `done` (it finished or died) or the time limit passes;
// false when it ran over.
bool WaitForChild(int done, uint32_t seconds) {
    const int64_t deadline = MonotonicMilliseconds() + int64_t(seconds) * 1000;
    for (;;) {
        const int64_t left = deadline - MonotonicMilliseconds();
        if (left <= 0) return false;
        pollfd watch{done, POLLIN, 0};
        const int ready = poll(&watch, 1, int(left));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

int ReapChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

struct MappedRows {
    void* base;
    size_t bytes;
};

void UnmapRows(void* owner) {
    MappedRows* mapped = static_cast<MappedRows*>(owner);
    munmap(mapped->base, mapped->bytes);
    delete mapped;
}

// The report's rows must lie inside the shared file and hold the picture it describes.
bool ReportConsistent(const ChildReport& report, int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0 || report.magic != kReportMagic || report.decoded != 1) return false;
    if (report.width < 1 || report.height < 1 || report.order < 0 || report.order > int32_t(PixelOrder::Bgra)) return false;
    const uint64_t packed = uint64_t(report.width) * BytesPerPixel(PixelOrder(report.order));
    return report.rowStride >= int64_t(packed) && uint64_t(report.rowStride) <= report.rowBytes / uint64_t(report.height) &&
           report.rowBytes <= uint64_t(status.st_size) - uint64_t(kRowsOffset) && report.rowBytes <= SIZE_MAX;
}

bool TakeRows(const ChildReport& report, int fd, DecodedImage* out) {
    MappedRows* mapped = new (std::nothrow) MappedRows{nullptr, size_t(report.rowBytes)};
    if (mapped == nullptr) return false;
    mapped->base = mmap(nullptr, mapped->bytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, kRowsOffset);
    if (mapped->base == MAP_FAILED) {
        delete mapped;
        return false;
    }
    DecodedImage image;
    image.width = report.width;
    image.height = report.height;
    image.order = PixelOrder(report.order);
    image.rowStride = ptrdiff_t(report.rowStride);
    image.rows = static_cast<const uint8_t*>(mapped->base);
    image.orientation = report.orientation;
    image.owner = mapped;
    image.release = UnmapRows;
    *out = image;
    return true;
}

// What a child that ended without a report met: our kill or its CPU limit is the time limit;
// any other end (a crash inside a loader, an abort on failed allocation) refuses the file.
Failure FailureOfEnd(int status, bool timedOut) {
    if (timedOut || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)) return Failure::kTimedOut;
    return Failure::kDamaged;
}

bool DecodeInChild(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, DecodedImage* out) {
    PrepareLoaders();
    const int fd = memfd_create("wobzy-decoded-rows", MFD_CLOEXEC);
    int done[2];
    if (fd < 0 || pipe2(done, O_CLOEXEC) != 0) {
        if (fd >= 0) close(fd);
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    std::fflush(nullptr);  // nothing buffered here is written twice by the child
    const pid_t pid = fork();
    if (pid == 0) {
        close(done[0]);
        RunChild(file, fileBytes, decodeBytes, fd, done[1]);
    }
    close(done[1]);
    const bool finished = pid > 0 && WaitForChild(done[0], CurrentLimits().decodeSeconds);
    if (pid > 0 && !finished) kill(pid, SIGKILL);
    const int status = pid > 0 ? ReapChild(pid) : 0;
    close(done[0]);
    ChildReport report{};
    const bool reported = finished && pread(fd, &report, sizeof report, 0) == ssize_t(sizeof report) &&
                          report.magic == kReportMagic;
    bool decoded = false;
    if (pid < 0) {
        SetFailure(Failure::kOutOfMemory);
    } else if (!reported) {
        SetFailure(FailureOfEnd(status, !finished));
    } else if (report.decoded == 0) {
        SetFailureReport(report.failure);
    } else {
        decoded = ReportConsistent(report, fd) && TakeRows(report, fd, out);
        if (!decoded) SetFailure(Failure::kOutOfMemory);
    }
    close(fd);
    return decoded;
}

}  // namespace

void DecodeInThisProcess(bool inThisProcess) { g_decodeInThisProcess = inThisProcess; }

bool DecodeOpenFile(std::FILE* file, uint64_t fileBytes, DecodedImage* out) {
    // A JPEG or PNG cut short is refused before decoding, since their loaders pad it out quietly;
    // so are sizes too large for the memory limit (see sniff.h), without starting a child.
    const SniffResult sniffed = SniffFile(file, fileBytes);
    if (!sniffed.acceptable || !ContainerComplete(file, fileBytes)) {
        SetFailureUnlessSet(Failure::kDamaged);
        return false;
    }
    if (g_decodeInThisProcess) return DecodeChecked(file, fileBytes, sniffed.decodeBytes, HeapRows(), out);
    return DecodeInChild(file, fileBytes, sniffed.decodeBytes, out);
}

}  // namespace imaging::detail

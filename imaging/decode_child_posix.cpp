// Decoding on Linux in a child process. The parent checks the file's container and claimed size,
// reserves address space shared with the child (anonymous memory, which takes real memory only
// where it is written and, unlike a file, counts against no file size limit), then forks (no
// exec: the child shares the loaded libraries and the open file); the child, held to the memory
// and CPU limits by rlimits, decodes and leaves its report and the rows in that shared memory,
// where the parent keeps them without another copy. The parent waits up to the
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
constexpr size_t kRowsOffset = size_t(1) << 16;
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

// The memory the parent reserved: the child's report at its start, the rows from kRowsOffset.
struct SharedRows {
    uint8_t* base;
    size_t reserved;
    uint8_t* rows = nullptr;
    size_t bytes = 0;
};

uint8_t* TakeShared(void* context, size_t bytes) {
    SharedRows* shared = static_cast<SharedRows*>(context);
    if (shared->rows != nullptr || bytes == 0 || bytes > shared->reserved - kRowsOffset) return nullptr;
    shared->rows = shared->base + kRowsOffset;
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

[[noreturn]] void RunChild(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, SharedRows shared, int done) {
    LimitChild(fileBytes);
    ClearFailure();
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
    std::memcpy(shared.base, &report, sizeof report);
    const char byte = 1;
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

// The report's rows must lie inside the shared memory and hold the picture it describes.
bool ReportConsistent(const ChildReport& report, size_t reserved) {
    if (report.magic != kReportMagic || report.decoded != 1) return false;
    if (report.width < 1 || report.height < 1 || report.order < 0 || report.order > int32_t(PixelOrder::Bgra)) return false;
    const uint64_t packed = uint64_t(report.width) * BytesPerPixel(PixelOrder(report.order));
    return report.rowStride >= int64_t(packed) && uint64_t(report.rowStride) <= report.rowBytes / uint64_t(report.height) &&
           report.rowBytes <= uint64_t(reserved - kRowsOffset);
}

// Keeps the part of the shared memory that holds the rows and gives the rest of the address space
// back; the rows then belong to the returned image.
bool TakeRows(const ChildReport& report, uint8_t* base, size_t reserved, DecodedImage* out) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t kept = (kRowsOffset + size_t(report.rowBytes) + page - 1) / page * page;
    MappedRows* mapped = new (std::nothrow) MappedRows{base, kept};
    if (mapped == nullptr) return false;
    if (kept < reserved) munmap(base + kept, reserved - kept);
    DecodedImage image;
    image.width = report.width;
    image.height = report.height;
    image.order = PixelOrder(report.order);
    image.rowStride = ptrdiff_t(report.rowStride);
    image.rows = base + kRowsOffset;
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

// Address space for the child's report and rows: the rows can never need more than the memory
// limit, since a picture whose conversion would is refused before it is decoded.
size_t SharedReserve() {
    const uint64_t bytes = uint64_t(kRowsOffset) + CurrentLimits().memoryBytes;
    return bytes <= SIZE_MAX ? size_t(bytes) : SIZE_MAX;
}

bool DecodeInChild(std::FILE* file, uint64_t fileBytes, uint64_t decodeBytes, DecodedImage* out) {
    PrepareLoaders();
    const size_t reserved = SharedReserve();
    void* base = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    int done[2];
    if (base == MAP_FAILED || pipe2(done, O_CLOEXEC) != 0) {
        if (base != MAP_FAILED) munmap(base, reserved);
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    SharedRows shared{static_cast<uint8_t*>(base), reserved};
    std::fflush(nullptr);  // nothing buffered here is written twice by the child
    const pid_t pid = fork();
    if (pid == 0) {
        close(done[0]);
        RunChild(file, fileBytes, decodeBytes, shared, done[1]);
    }
    close(done[1]);
    const bool finished = pid > 0 && WaitForChild(done[0], CurrentLimits().decodeSeconds);
    if (pid > 0 && !finished) kill(pid, SIGKILL);
    const int status = pid > 0 ? ReapChild(pid) : 0;
    close(done[0]);
    ChildReport report{};
    if (finished) std::memcpy(&report, base, sizeof report);
    const bool reported = finished && report.magic == kReportMagic;
    bool decoded = false;
    if (pid < 0) {
        SetFailure(Failure::kOutOfMemory);
    } else if (!reported) {
        SetFailure(FailureOfEnd(status, !finished));
    } else if (report.decoded == 0) {
        SetFailureReport(report.failure);
    } else {
        decoded = ReportConsistent(report, reserved) && TakeRows(report, shared.base, reserved, out);
        if (!decoded) SetFailure(Failure::kOutOfMemory);
    }
    if (!decoded) munmap(base, reserved);
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

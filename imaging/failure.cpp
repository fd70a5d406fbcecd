// The library's last failure, like errno: one record, since one thread calls the library.
#include "imaging/failure.h"

#include <cerrno>
#include <cstdint>

namespace imaging {

namespace {
FailureReport g_lastFailure = {Failure::kNone, 0, 0, 0};
}

FailureReport LastFailure() { return g_lastFailure; }

namespace detail {

void ClearFailure() { g_lastFailure = FailureReport{Failure::kNone, 0, 0, 0}; }

void SetFailure(Failure failure) { g_lastFailure = FailureReport{failure, 0, 0, 0}; }

void SetFailureUnlessSet(Failure failure) {
    if (g_lastFailure.failure == Failure::kNone) SetFailure(failure);
}

void SetFailureReport(const FailureReport& report) { g_lastFailure = report; }

void SetTooLarge(int64_t width, int64_t height, uint64_t bytesNeeded) {
    const auto side = [](int64_t v) { return int32_t(v < 0 ? 0 : v > INT32_MAX ? INT32_MAX : v); };
    g_lastFailure = FailureReport{Failure::kTooLarge, side(width), side(height), bytesNeeded};
}

Failure FailureOfOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return Failure::kNoSuchFile;
        case EISDIR: return Failure::kIsFolder;
        case EACCES:
        case EPERM: return Failure::kAccessDenied;
        case ENOMEM: return Failure::kOutOfMemory;
        default: return Failure::kReadError;
    }
}

Failure FailureOfWrite(int error) {
    switch (error) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG: return Failure::kDiskFull;
        case EROFS:
        case EACCES:
        case EPERM: return Failure::kReadOnly;
        case ENOENT:
        case ENOTDIR: return Failure::kNoSuchFile;
        case EISDIR: return Failure::kIsFolder;
        case ENOMEM: return Failure::kOutOfMemory;
        default: return Failure::kWriteError;
    }
}

}  // namespace detail
}  // namespace imaging

// Reasons for failed files in words a user of image tools expects.
#include "cli/failure_text.h"

#include <cstdio>

namespace {

constexpr uint64_t kMegabyte = uint64_t(1) << 20;

std::string TooLarge(const imaging::FailureReport& report) {
    char text[96];
    std::snprintf(text, sizeof text, "too large: %d \xC3\x97 %d needs %llu MB", int(report.width), int(report.height),
                  static_cast<unsigned long long>((report.bytesNeeded + kMegabyte - 1) / kMegabyte));
    return text;
}

// When the library recorded no reason, the step says what went wrong.
const char* StepReason(ConversionFailure failure) {
    if (failure == kLoadFailed) return "cannot be read as an image";
    if (failure == kPrepareFailed) return "cannot be prepared";
    if (failure == kSaveFailed) return "the GIF could not be written";
    return "out of memory for the frames";
}

}  // namespace

std::string FailureReason(ConversionFailure failure, const imaging::FailureReport& report) {
    const bool saving = failure == kSaveFailed;
    switch (report.failure) {
        case imaging::Failure::kNoSuchFile: return saving ? "no such folder" : "no such file";
        case imaging::Failure::kIsFolder: return saving ? "the GIF's name is taken by a folder" : "is a folder";
        case imaging::Failure::kNotAFile: return "not a regular file";
        case imaging::Failure::kAccessDenied: return "permission denied";
        case imaging::Failure::kReadError: return "read error";
        case imaging::Failure::kUnknownFormat: return "not a picture the loader recognises";
        case imaging::Failure::kDamaged: return "damaged or cut short";
        case imaging::Failure::kTooLarge: return TooLarge(report);
        case imaging::Failure::kOutOfMemory: return "out of memory";
        case imaging::Failure::kTimedOut: return "decoding took too long";
        case imaging::Failure::kDiskFull: return "disk full";
        case imaging::Failure::kReadOnly: return "the folder or disk is read-only";
        case imaging::Failure::kWriteError: return "write error";
        case imaging::Failure::kInvalidArgument:
        case imaging::Failure::kNone: break;
    }
    return StepReason(failure);
}

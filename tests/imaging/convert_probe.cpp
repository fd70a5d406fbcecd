// Converts one file as the programs do (ConvertFile with the image library's operations) and
// prints what became of it on one line: the conversion's failure code (-1: converted), the
// library's reason (LastFailure) and the process's peak memory, its decoding children included.
// The table of hostile files runs it once per file, so every peak is that file's alone.
//   wobzy_convert_probe [--memory BYTES] [--seconds N] FILE
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "convert/conversion_job.h"
#include "imaging/imaging.h"

namespace {

struct Outcome {
    int code = -1;
    imaging::FailureReport failure = {imaging::Failure::kNone, 0, 0, 0};
};

void Report(void* context, ConversionFailure failure, const char*) {
    Outcome* outcome = static_cast<Outcome*>(context);
    outcome->code = failure;
    outcome->failure = imaging::LastFailure();
}

uint64_t PeakBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
#else
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const long kilobytes = self.ru_maxrss > children.ru_maxrss ? self.ru_maxrss : children.ru_maxrss;
    return uint64_t(kilobytes) * 1024;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    imaging::Limits limits = imaging::kDefaultLimits;
    int at = 1;
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        if (std::strcmp(argv[at], "--memory") == 0) limits.memoryBytes = std::strtoull(argv[at + 1], nullptr, 10);
        if (std::strcmp(argv[at], "--seconds") == 0) limits.decodeSeconds = uint32_t(std::strtoul(argv[at + 1], nullptr, 10));
    }
    if (at + 1 != argc) {
        std::fprintf(stderr, "usage: wobzy_convert_probe [--memory BYTES] [--seconds N] FILE\n");
        return 2;
    }
    imaging::SetLimits(limits);
    conversionSettings = ConversionSettings{kDefaultShakePercent, false, 400};
    Outcome outcome;
    ConvertFile(ConversionHost{&kImagingLibraryOperations, Report, nullptr, &outcome}, argv[at]);
    std::printf("code=%d failure=%d width=%" PRId32 " height=%" PRId32 " needed=%" PRIu64 " peak=%" PRIu64 "\n",
                outcome.code, int(outcome.failure.failure), outcome.failure.width, outcome.failure.height,
                outcome.failure.bytesNeeded, PeakBytes());
    return 0;
}

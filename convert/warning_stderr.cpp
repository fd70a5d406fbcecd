// Reports a file that could not be converted as one line on stderr naming the path and the code.
#include <cstdio>

#include "convert/warning_box.h"
#include "convert/warning_stderr.h"

int32_t reportedConversionErrors = 0;

static const char* FailedStep(int32_t code) {
    switch (code) {
        case 0: return "cannot be read as an image";
        case 1: return "cannot be prepared";
        case 7: return "the GIF could not be written";
        default: return (code >= 2 && code <= 6) ? "out of memory for the frames" : "unknown failure";
    }
}

void ReportConversionError(int32_t code, const char* path) {
    ++reportedConversionErrors;
    std::fprintf(stderr, "%s: not converted (code %d: %s)\n", path, static_cast<int>(code), FailedStep(code));
    std::fflush(stderr);
}

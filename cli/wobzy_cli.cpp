// wobzy-cli: converts each file named on the command line into its shaking GIF, in order,
// with one progress line per file and one line on stderr per failure.
#include <chrono>
#include <cstdio>

#include "cli/cli_options.h"
#include "cli/frame_dump.h"
#include "convert/conversion_job.h"
#include "convert/warning_stderr.h"

// Converts one file; true when it was written (and its frames, when asked for).
static bool ConvertOneFile(const char* path) {
    const int32_t errorsBefore = reportedConversionErrors;
    frameDump.sourcePath = path;
    frameDump.failed = false;
    auto start = std::chrono::steady_clock::now();
    ConvertFile(path);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (reportedConversionErrors != errorsBefore) return false;
    std::printf("%s -> %s_wob.gif (%.2f s)\n", path, path, seconds);
    std::fflush(stdout);
    return !frameDump.failed;
}

int main(int argc, char** argv) {
    CliOptions options;
    const char* error = nullptr;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "wobzy-cli: %s\n\n%s", error, kCliUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kCliUsage, stdout);
        return 0;
    }
    conversionSettings = ConversionSettings{options.shakePercent, options.limitEnabled, options.sizeLimit};
    if (options.framesDir != nullptr) {
        frameDump.dir = options.framesDir;
        gifFramesObserver = DumpFrames;
    }
    bool allConverted = true;
    for (const char* path : options.files) allConverted = ConvertOneFile(path) && allConverted;
    return allConverted ? 0 : 1;
}

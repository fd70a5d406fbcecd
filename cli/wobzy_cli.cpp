// wobzy-cli: converts each file named on the command line into its shaking GIF, in order,
// with one progress line per file and one line on stderr per failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/frame_dump.h"
#include "convert/conversion_job.h"

// What became of one file: the conversion host's context while it is converted.
struct FileRun {
    const char* path;
    const char* framesDir;  // --frames, or null
    bool failed;            // the conversion reported a failure
    bool framesFailed;      // a frame could not be written
};

static const char* FailedStep(ConversionFailure failure) {
    if (failure == kLoadFailed) return "cannot be read as an image";
    if (failure == kPrepareFailed) return "cannot be prepared";
    if (failure == kSaveFailed) return "the GIF could not be written";
    return failure >= kFirstCopyFailed && failure < kSaveFailed ? "out of memory for the frames" : "unknown failure";
}

static void ReportToStderr(void* context, ConversionFailure failure, const char* path) {
    static_cast<FileRun*>(context)->failed = true;
    PrintTo(stderr, "%s: not converted (code %d: %s)\n", path, static_cast<int>(failure), FailedStep(failure));
    std::fflush(stderr);
}

static void DumpFrames(void* context, const ImageHandle* frames, int32_t count) {
    FileRun* run = static_cast<FileRun*>(context);
    if (!WriteFramePngs(run->framesDir, run->path, frames, count)) run->framesFailed = true;
}

// Converts one file; true when it was written (and its frames, when asked for).
static bool ConvertOneFile(const char* path, const char* framesDir) {
    FileRun run{path, framesDir, false, false};
    const ConversionHost host{&kImagingLibraryOperations, ReportToStderr, framesDir != nullptr ? DumpFrames : nullptr,
                              &run};
    auto start = std::chrono::steady_clock::now();
    ConvertFile(host, path);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.failed) return false;
    PrintTo(stdout, "%s -> %s%s (%.2f s)\n", path, path, kOutputSuffix, seconds);
    std::fflush(stdout);
    return !run.framesFailed;
}

int main(int argc, char** argv) {
    argv = ProgramArguments(&argc, argv);
    CliOptions options;
    const char* error = nullptr;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "wobzy-cli: %s\n\n", error);
        PrintCliUsage(stderr);
        return 2;
    }
    if (options.help) {
        PrintCliUsage(stdout);
        return 0;
    }
    conversionSettings = ConversionSettings{options.shakePercent, options.limitEnabled, options.sizeLimit};
    bool allConverted = true;
    for (const char* path : options.files) allConverted = ConvertOneFile(path, options.framesDir) && allConverted;
    return allConverted ? 0 : 1;
}

// wobzy-cli: converts each file named on the command line into its shaking GIF, in order, with
// one progress line per file and one line on stderr per failure, naming the step's code and the
// system's reason.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_files.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/failure_text.h"
#include "cli/frame_dump.h"
#include "convert/conversion_job.h"

namespace {

// What became of one file: the conversion host's context while it is converted.
struct FileRun {
    const char* path;
    const char* framesDir;  // --frames, or null
    bool failed;            // the conversion reported a failure
    bool framesFailed;      // a frame could not be written
};

bool IsStandardStream(const char* name) { return std::strcmp(name, kStandardStream) == 0; }

const char* DisplayName(const char* path) { return IsStandardStream(path) ? "standard input" : path; }

void ReportToStderr(void* context, ConversionFailure failure, const char* path) {
    static_cast<FileRun*>(context)->failed = true;
    const std::string reason = FailureReason(failure, imaging::LastFailure());
    PrintTo(stderr, "%s: not converted (code %d: %s)\n", DisplayName(path), int(failure), reason.c_str());
    std::fflush(stderr);
}

void DumpFrames(void* context, const ImageHandle* frames, int32_t count) {
    FileRun* run = static_cast<FileRun*>(context);
    if (!WriteFramePngs(run->framesDir, run->path, frames, count)) run->framesFailed = true;
}

// The library's writer, except that the name "-" means standard output.
int32_t WriteGifOrStandardOutput(const char* path, const ImageHandle* frames, int32_t count, int32_t delay) {
    if (IsStandardStream(path)) return imaging::WriteAnimatedGifToStream(stdout, frames, count, delay);
    return imaging::WriteAnimatedGif(path, frames, count, delay);
}

// The library's loader, except that the name "-" means standard input.
ImageHandle LoadFileOrStandardInput(const char* path) {
    return IsStandardStream(path) ? imaging::LoadStream(stdin) : imaging::LoadFile(path);
}

ImageOperations CommandLineOperations() {
    ImageOperations operations = kImagingLibraryOperations;
    operations.load = LoadFileOrStandardInput;
    operations.writeGif = WriteGifOrStandardOutput;
    return operations;
}

// Where the GIF of `path` goes: empty for beside the source.
std::string OutputFor(const CliOptions& options, const char* path) {
    if (options.outputFile != nullptr) return options.outputFile;
    if (options.outputDir != nullptr) return std::string(options.outputDir) + "/" + FileNameOf(path) + kOutputSuffix;
    if (IsStandardStream(path)) return kStandardStream;
    return std::string();
}

bool EndsWithOutputSuffix(const char* path) {
    const size_t length = std::strlen(path), suffix = std::strlen(kOutputSuffix);
    return length >= suffix && std::strcmp(path + length - suffix, kOutputSuffix) == 0;
}

bool WritesToStandardOutput(const CliOptions& options) {
    for (const char* path : options.files) {
        const std::string output = OutputFor(options, path);
        if (IsStandardStream(output.c_str())) return true;
    }
    return false;
}

// Converts one file; true when it was written (and its frames, when asked for).
bool ConvertOneFile(const CliOptions& options, const ImageOperations& operations, const char* path, std::FILE* progress) {
    FileRun run{path, options.framesDir, false, false};
    const std::string output = OutputFor(options, path);
    ConversionHost host{&operations, ReportToStderr, options.framesDir != nullptr ? DumpFrames : nullptr, &run};
    if (!output.empty()) host.outputPath = output.c_str();
    const auto start = std::chrono::steady_clock::now();
    ConvertFile(host, path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.failed) return false;
    if (!options.quiet) {
        const std::string shown = output.empty() ? std::string(path) + kOutputSuffix
                                  : IsStandardStream(output.c_str()) ? "standard output" : output;
        PrintTo(progress, "%s -> %s (%.2f s)\n", DisplayName(path), shown.c_str(), seconds);
        std::fflush(progress);
    }
    return !run.framesFailed;
}

// Makes the folders the options name; false (with a message) when one cannot be made.
bool MakeOutputFolders(const CliOptions& options) {
    for (const char* folder : {options.framesDir, options.outputDir}) {
        if (folder != nullptr && !MakeFolders(folder)) {
            PrintTo(stderr, "wobzy-cli: cannot make the folder %s\n", folder);
            return false;
        }
    }
    return true;
}

int UsageError(const std::string& message) {
    PrintTo(stderr, "wobzy-cli: %s (see --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    argv = ProgramArguments(&argc, argv);
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, &options, &error)) return UsageError(error);
    if (options.help) {
        PrintCliUsage(stdout);
        return 0;
    }
    if (options.version) {
        PrintCliVersion(stdout);
        return 0;
    }
    UseBinaryStandardStreams();
    const bool gifToStandardOutput = WritesToStandardOutput(options);
    if (gifToStandardOutput && IsTerminal(stdout)) {
        return UsageError("a GIF is not written to a terminal: redirect standard output or name a file with -o");
    }
    if (!MakeOutputFolders(options)) return 1;
    conversionSettings = ConversionSettings{options.shakePercent, options.limitEnabled, options.sizeLimit};
    imaging::SetLimits({uint64_t(options.memoryMegabytes) << 20, uint32_t(options.decodeSeconds)});
    const ImageOperations operations = CommandLineOperations();
    std::FILE* progress = gifToStandardOutput ? stderr : stdout;  // standard output carries the GIF
    bool allConverted = true;
    for (const char* path : options.files) {
        if (EndsWithOutputSuffix(path)) {
            if (!options.quiet) PrintTo(progress, "%s: skipped, already a wobbled GIF\n", path);
            continue;
        }
        allConverted = ConvertOneFile(options, operations, path, progress) && allConverted;
    }
    return allConverted ? 0 : 1;
}

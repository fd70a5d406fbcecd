// The command line of wobzy-cli: its options in the usual conventions (getopt_long), their
// ranges, and the help text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr int32_t kMinShakePercent = 0;
constexpr int32_t kMaxShakePercent = 1000;  // beyond a few cells the picture only folds into noise
constexpr int32_t kMinSizeLimit = 1;
constexpr int32_t kMaxSizeLimit = 65535;    // the largest side a GIF can have
constexpr int32_t kMinMemoryMegabytes = 16;
constexpr int32_t kMaxMemoryMegabytes = 1 << 20;
constexpr int32_t kMinDecodeSeconds = 1;
constexpr int32_t kMaxDecodeSeconds = 3600;

extern const char kStandardStream[];  // "-": standard input as a file, standard output as -o

struct CliOptions {
    int32_t shakePercent;    // --shake
    bool limitEnabled;       // set by --limit
    int32_t sizeLimit;       // --limit
    const char* framesDir;   // --frames, or null
    const char* outputFile;  // -o, or null; "-" for standard output
    const char* outputDir;   // --output-dir, or null
    int32_t memoryMegabytes; // --max-memory: what one conversion may take
    int32_t decodeSeconds;   // --time-limit: how long a decoder may run
    bool quiet;              // -q: only errors are printed
    bool help;               // -h, --help
    bool version;            // -V, --version
    std::vector<const char*> files;
};

// Fills `options` from argv (which it may reorder, as getopt_long does). On a usage error returns
// false with a one-line message naming the option or value at fault in `error`.
bool ParseCliOptions(int argc, char** argv, CliOptions* options, std::string* error);

// A whole decimal number from `low` to `high` ("7", "+7", "-5"); false on anything else.
bool ParseCliNumber(const char* text, int32_t low, int32_t high, int32_t* value);

void PrintCliUsage(std::FILE* out);
void PrintCliVersion(std::FILE* out);

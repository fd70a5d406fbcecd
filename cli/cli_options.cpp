// Parses wobzy-cli's arguments with the platform's getopt_long (glibc; MinGW-w64 has the same),
// so options look and combine as in other tools: -q -o out.gif, --shake=30, "--" ends options.
#include "cli/cli_options.h"

#include <getopt.h>

#include <cstring>

#include "convert/conversion_job.h"
#include "imaging/imaging.h"
#include "res/version.h"

const char kStandardStream[] = "-";

namespace {

enum LongOnly { kShake = 256, kLimit, kFrames, kOutputDir, kMaxMemory, kTimeLimit };

const option kLongOptions[] = {
    {"shake", required_argument, nullptr, kShake},
    {"limit", required_argument, nullptr, kLimit},
    {"frames", required_argument, nullptr, kFrames},
    {"output-dir", required_argument, nullptr, kOutputDir},
    {"max-memory", required_argument, nullptr, kMaxMemory},
    {"time-limit", required_argument, nullptr, kTimeLimit},
    {"output", required_argument, nullptr, 'o'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
const char kShortOptions[] = ":o:qhV";  // ":" first: a missing value comes back as ':'

std::string RangeError(const char* option, const char* value, int32_t low, int32_t high) {
    return std::string(option) + ": '" + value + "' is not a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
}

// The option's name as the user wrote it, for a message: "--limit" or "-o".
std::string OptionAsWritten(char** argv, int index) {
    const char* arg = argv[index];
    const char* equals = std::strchr(arg, '=');
    return equals != nullptr && arg[1] == '-' ? std::string(arg, size_t(equals - arg)) : std::string(arg);
}

// One option; false with a message on a bad value.
bool TakeOption(int code, CliOptions* options, std::string* error) {
    switch (code) {
        case kShake:
            if (ParseCliNumber(optarg, kMinShakePercent, kMaxShakePercent, &options->shakePercent)) return true;
            *error = RangeError("--shake", optarg, kMinShakePercent, kMaxShakePercent);
            return false;
        case kLimit:
            options->limitEnabled = true;
            if (ParseCliNumber(optarg, kMinSizeLimit, kMaxSizeLimit, &options->sizeLimit)) return true;
            *error = RangeError("--limit", optarg, kMinSizeLimit, kMaxSizeLimit);
            return false;
        case kMaxMemory:
            if (ParseCliNumber(optarg, kMinMemoryMegabytes, kMaxMemoryMegabytes, &options->memoryMegabytes)) return true;
            *error = RangeError("--max-memory", optarg, kMinMemoryMegabytes, kMaxMemoryMegabytes);
            return false;
        case kTimeLimit:
            if (ParseCliNumber(optarg, kMinDecodeSeconds, kMaxDecodeSeconds, &options->decodeSeconds)) return true;
            *error = RangeError("--time-limit", optarg, kMinDecodeSeconds, kMaxDecodeSeconds);
            return false;
        case kFrames: options->framesDir = optarg; break;
        case kOutputDir: options->outputDir = optarg; break;
        case 'o': options->outputFile = optarg; break;
        case 'q': options->quiet = true; break;
        case 'h': options->help = true; break;
        case 'V': options->version = true; break;
    }
    return true;
}

// What the options and files mean together.
bool CheckCombination(const CliOptions& options, std::string* error) {
    if (options.help || options.version) return true;
    if (options.files.empty()) *error = "no file given";
    int standardInputs = 0;
    for (const char* file : options.files) standardInputs += std::strcmp(file, kStandardStream) == 0 ? 1 : 0;
    if (standardInputs > 1) *error = "standard input ('-') can be read only once";
    if (options.outputFile != nullptr && options.outputDir != nullptr) *error = "-o and --output-dir exclude each other";
    if (options.outputFile != nullptr && options.files.size() > 1) {
        *error = "-o names the GIF of one file; for several, use --output-dir";
    }
    if (options.outputDir != nullptr && standardInputs > 0) *error = "standard input ('-') has no name for --output-dir";
    if ((options.framesDir != nullptr && *options.framesDir == '\0') ||
        (options.outputDir != nullptr && *options.outputDir == '\0') ||
        (options.outputFile != nullptr && *options.outputFile == '\0')) {
        *error = "an empty name was given for a file or folder";
    }
    return error->empty();
}

}  // namespace

bool ParseCliNumber(const char* text, int32_t low, int32_t high, int32_t* value) {
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (*text == '\0') return false;
    int64_t magnitude = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) return false;
    }
    const int64_t number = negative ? -magnitude : magnitude;
    if (number < low || number > high) return false;
    *value = int32_t(number);
    return true;
}

bool ParseCliOptions(int argc, char** argv, CliOptions* options, std::string* error) {
    const imaging::Limits limits = imaging::kDefaultLimits;
    *options = CliOptions{kDefaultShakePercent,
                          false,
                          0,
                          nullptr,
                          nullptr,
                          nullptr,
                          int32_t(limits.memoryBytes >> 20),
                          int32_t(limits.decodeSeconds),
                          false,
                          false,
                          false,
                          {}};
    error->clear();
    opterr = 0;  // the messages below name the option at fault in our own words
    optind = 1;
    int code;
    while ((code = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        if (code == '?' || code == ':') {
            // optopt names a short option; for a long one it is 0 or the option's code.
            const std::string option =
                optopt > 0 && optopt < 256 ? std::string("-") + char(optopt) : OptionAsWritten(argv, optind - 1);
            *error = code == '?' ? "unknown option '" + option + "'" : "option '" + option + "' needs a value";
            return false;
        }
        if (!TakeOption(code, options, error)) return false;
    }
    for (int i = optind; i < argc; ++i) options->files.push_back(argv[i]);
    return CheckCombination(*options, error);
}

void PrintCliUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: wobzy-cli [options] FILE...\n"
                 "\n"
                 "Writes FILE%s beside each FILE: five frames of the picture, each drawn\n"
                 "through a freshly jittered mesh, so that the picture wobbles. '-' reads a picture\n"
                 "from standard input (its GIF goes to standard output unless -o says otherwise).\n"
                 "Files whose names end in %s are skipped: they are this program's own GIFs.\n"
                 "\n"
                 "  --shake PERCENT   how far the mesh points move, in percent of a cell,\n"
                 "                    %d to %d (default %d)\n"
                 "  --limit PIXELS    shrink the frames so that the longer side is at most PIXELS,\n"
                 "                    %d to %d\n"
                 "  -o, --output FILE write the GIF of the one FILE given to this file ('-': standard output)\n"
                 "  --output-dir DIR  write each GIF into DIR (made if missing), named FILE%s\n"
                 "  --frames DIR      also write the five frames as PNG files into DIR (made if missing)\n"
                 "  --max-memory MB   refuse a picture whose conversion would take more memory,\n"
                 "                    %d to %d (default %d)\n"
                 "  --time-limit S    give up a picture that takes longer to decode, %d to %d seconds\n"
                 "                    (default %d)\n"
                 "  -q, --quiet       print only errors\n"
                 "  -h, --help        show this help\n"
                 "  -V, --version     show the version\n"
                 "\n"
                 "Exit status: 0 when every file was converted, 1 when any failed, 2 on a usage error.\n",
                 kOutputSuffix, kOutputSuffix, int(kMinShakePercent), int(kMaxShakePercent), int(kDefaultShakePercent),
                 int(kMinSizeLimit), int(kMaxSizeLimit), kOutputSuffix, int(kMinMemoryMegabytes),
                 int(kMaxMemoryMegabytes), int(imaging::kDefaultLimits.memoryBytes >> 20), int(kMinDecodeSeconds),
                 int(kMaxDecodeSeconds), int(imaging::kDefaultLimits.decodeSeconds));
}

void PrintCliVersion(std::FILE* out) { std::fprintf(out, "wobzy-cli %s\n", WOBZY_VERSION_DOTTED); }

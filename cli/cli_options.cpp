// Parses wobzy-cli's arguments: --shake PERCENT, --limit PIXELS, --frames DIR, --help, files.
#include "cli/cli_options.h"

#include <cstring>

#include "convert/conversion_job.h"

void PrintCliUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: wobzy-cli [--shake PERCENT] [--limit PIXELS] [--frames DIR] FILE...\n"
                 "\n"
                 "Writes FILE%s beside each FILE: five frames of the picture, each drawn\n"
                 "through a freshly jittered mesh, so that the picture wobbles.\n"
                 "\n"
                 "  --shake PERCENT  how far the mesh points move, in percent of a cell (default %d)\n"
                 "  --limit PIXELS   shrink the frames so that the longer side is at most PIXELS\n"
                 "  --frames DIR     also write the five frames as PNG files into DIR\n"
                 "  -h, --help       show this help\n"
                 "\n"
                 "Exit status: 0 when every file was converted, 1 when any failed, 2 on a usage error.\n",
                 kOutputSuffix, static_cast<int>(kDefaultShakePercent));
}

bool ParseCliInteger(const char* text, int32_t* value) {
    bool negative = (*text == '-');
    if (*text == '-' || *text == '+') ++text;
    if (*text == '\0') return false;
    int64_t magnitude = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) return false;
    }
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) return false;
    *value = static_cast<int32_t>(signedValue);
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; null when it is missing.
static const char* OptionValue(const char* name, int argc, char** argv, int* index) {
    const char* arg = argv[*index];
    size_t length = std::strlen(name);
    if (arg[length] == '=') return arg + length + 1;
    if (*index + 1 >= argc) return nullptr;
    return argv[++*index];
}

static bool IsOption(const char* arg, const char* name) {
    size_t length = std::strlen(name);
    return std::strncmp(arg, name, length) == 0 && (arg[length] == '\0' || arg[length] == '=');
}

bool ParseCliOptions(int argc, char** argv, CliOptions* options, const char** error) {
    *options = CliOptions{kDefaultShakePercent, false, 0, nullptr, false, {}};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            options->files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            options->help = true;
        } else if (IsOption(arg, "--shake")) {
            const char* value = OptionValue("--shake", argc, argv, &i);
            if (value == nullptr || !ParseCliInteger(value, &options->shakePercent)) {
                *error = "--shake needs a whole number from -2147483648 to 2147483647";
                return false;
            }
        } else if (IsOption(arg, "--limit")) {
            const char* value = OptionValue("--limit", argc, argv, &i);
            if (value == nullptr || !ParseCliInteger(value, &options->sizeLimit)) {
                *error = "--limit needs a whole number of pixels";
                return false;
            }
            options->limitEnabled = true;
        } else if (IsOption(arg, "--frames")) {
            options->framesDir = OptionValue("--frames", argc, argv, &i);
            if (options->framesDir == nullptr || *options->framesDir == '\0') {
                *error = "--frames needs a folder";
                return false;
            }
        } else {
            *error = "unknown option (see --help)";
            return false;
        }
    }
    if (!options->help && options->files.empty()) {
        *error = "no file given";
        return false;
    }
    return true;
}

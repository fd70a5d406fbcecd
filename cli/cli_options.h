// The command line of wobzy-cli: its options, their parsing and the help text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

struct CliOptions {
    int32_t shakePercent;    // --shake, default kDefaultShakePercent
    bool limitEnabled;       // set by --limit
    int32_t sizeLimit;       // --limit
    const char* framesDir;   // --frames, or null
    bool help;               // --help / -h
    std::vector<const char*> files;
};

// Fills `options` from argv. On a usage error returns false with a one-line reason in `error`.
bool ParseCliOptions(int argc, char** argv, CliOptions* options, const char** error);

// A whole signed 32-bit decimal integer ("-5", "+7", "2147483647"); false on anything else.
bool ParseCliInteger(const char* text, int32_t* value);

// The help text.
void PrintCliUsage(std::FILE* out);

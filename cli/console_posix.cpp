// wobzy-cli on POSIX systems: file names are bytes, and the arguments and the output pass them on
// untouched, whatever their encoding.
#include "cli/console.h"

#include <cstdarg>

char** ProgramArguments(int* /*argc: already the count*/, char** argv) { return argv; }

void PrintTo(std::FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stream, format, arguments);
    va_end(arguments);
}

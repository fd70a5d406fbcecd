// The command line's file operations on POSIX systems, where a name is bytes.
#include "cli/cli_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
    }
    mkdir(path.c_str(), 0777);
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void UseBinaryStandardStreams() {}

const char* FileNameOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The command line's file operations on Windows: UTF-8 names through the wide calls.
#include "cli/cli_files.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

#include "imaging/unicode.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsFolder(const std::string& path) {
    wchar_t* wide = imaging::Utf8ToWide(path.c_str());
    const DWORD attributes = wide != nullptr ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    std::free(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeFolder(const std::string& path) {
    wchar_t* wide = imaging::Utf8ToWide(path.c_str());
    if (wide != nullptr) CreateDirectoryW(wide, nullptr);
    std::free(wide);
}

}  // namespace

bool MakeFolders(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (IsSeparator(path[i]) && path[i - 1] != ':') MakeFolder(path.substr(0, i));
    }
    MakeFolder(path);
    return IsFolder(path);
}

std::FILE* OpenForWriting(const std::string& path) {
    wchar_t* wide = imaging::Utf8ToWide(path.c_str());
    std::FILE* file = wide != nullptr ? _wfopen(wide, L"wb") : nullptr;
    std::free(wide);
    return file;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

const char* FileNameOf(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsSeparator(*p) || *p == ':') name = p + 1;
    }
    return name;
}

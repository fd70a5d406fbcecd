// The writer's file operations on Windows: wide calls on the \\?\ form of long paths, so a GIF
// beside a source of any name and length can be created, renamed and deleted.
#include "imaging/system_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/system_path.h"
#include "imaging/unicode.h"

namespace imaging::detail {

namespace {

// The errno value the portable writer reads for a failed system call.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EACCES;
    }
}

}  // namespace

int CurrentProcessId() { return int(GetCurrentProcessId()); }

int CreateNewFile(const char* path) {
    wchar_t* wide = WideSystemPath(path);
    if (wide == nullptr) {
        errno = ENOENT;
        return -1;
    }
    HANDLE handle = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    std::free(wide);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(error);
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) CloseHandle(handle);
    return descriptor;
}

std::FILE* StreamOf(int descriptor) { return _fdopen(descriptor, "wb"); }
void CloseDescriptor(int descriptor) { _close(descriptor); }
bool SyncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }

bool RenameOver(const char* from, const char* to) {
    wchar_t* wideFrom = WideSystemPath(from);
    wchar_t* wideTo = WideSystemPath(to);
    const bool moved = wideFrom != nullptr && wideTo != nullptr &&
                       MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!moved) errno = wideFrom != nullptr && wideTo != nullptr ? ErrnoOf(GetLastError()) : ENOMEM;
    std::free(wideFrom);
    std::free(wideTo);
    return moved;
}

int CreateUnnamedFile(const char*) {
    errno = EOPNOTSUPP;  // a file without a name cannot be renamed into place here
    return -1;
}

bool NameUnnamedFile(std::FILE*, const char*) {
    errno = EOPNOTSUPP;
    return false;
}

bool ProcessGone(int processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(processId));
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void ForEachEntry(const char* folder, void (*visit)(void* context, const char* name), void* context) {
    std::string pattern = std::string(folder) + "/*";
    wchar_t* wide = WideSystemPath(pattern.c_str());
    if (wide == nullptr) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide, &found);
    std::free(wide);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        char* name = WideToUtf8(found.cFileName);
        if (name != nullptr && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) visit(context, name);
        std::free(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void DeleteTemporary(const char* path) {
    wchar_t* wide = WideSystemPath(path);
    if (wide != nullptr) DeleteFileW(wide);
    std::free(wide);
}

}  // namespace imaging::detail

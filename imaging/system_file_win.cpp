// The writer's file operations on Windows: wide calls on the \\?\ form of long paths, so a GIF
// beside a source of any name and length can be created, renamed and deleted.
#include "imaging/system_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>

#include "imaging/system_path.h"

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

void DeleteTemporary(const char* path) {
    wchar_t* wide = WideSystemPath(path);
    if (wide != nullptr) DeleteFileW(wide);
    std::free(wide);
}

}  // namespace imaging::detail

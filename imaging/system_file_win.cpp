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
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
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

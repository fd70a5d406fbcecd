// UTF-8 paths as the wide Windows file calls take them.
#include "imaging/system_path.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "imaging/failure.h"
#include "imaging/unicode.h"

namespace imaging::detail {

namespace {

// Paths this long or longer need the \\?\ form (MAX_PATH counts the terminating NUL).
constexpr DWORD kClassicPathLimit = MAX_PATH - 1;

// The \\?\ form of the full path: "C:\a" -> "\\?\C:\a", "\\server\share\a" ->
// "\\?\UNC\server\share\a". The full path has forward slashes, "." and ".." resolved, which the
// system does not do for a path in that form.
wchar_t* LongForm(const wchar_t* path) {
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) return nullptr;
    wchar_t* full = static_cast<wchar_t*>(std::malloc(size_t(needed) * sizeof(wchar_t)));
    if (full == nullptr) return nullptr;
    const DWORD length = GetFullPathNameW(path, needed, full, nullptr);
    wchar_t* result = nullptr;
    if (length > 0 && length < needed) {
        const bool unc = full[0] == L'\\' && full[1] == L'\\';
        const bool alreadyLong = unc && full[2] == L'?' && full[3] == L'\\';
        const wchar_t* prefix = alreadyLong ? L"" : unc ? L"\\\\?\\UNC" : L"\\\\?\\";
        const wchar_t* rest = alreadyLong ? full : unc ? full + 1 : full;
        const size_t prefixLength = std::wcslen(prefix);
        result = static_cast<wchar_t*>(std::malloc((prefixLength + length + 1) * sizeof(wchar_t)));
        if (result != nullptr) {
            std::wmemcpy(result, prefix, prefixLength);
            std::wcscpy(result + prefixLength, rest);
        }
    }
    std::free(full);
    return result;
}

}  // namespace

wchar_t* WideSystemPath(const char* utf8Path) {
    wchar_t* wide = Utf8ToWide(utf8Path);
    if (wide == nullptr || std::wcslen(wide) < kClassicPathLimit) return wide;
    wchar_t* longForm = LongForm(wide);
    std::free(wide);
    return longForm;
}

namespace {

Failure FailureOfSystemError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return Failure::kNoSuchFile;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return Failure::kAccessDenied;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return Failure::kOutOfMemory;
        default: return Failure::kReadError;
    }
}

// The open file as a CRT stream, or null (the handle closed) with the reason recorded.
std::FILE* StreamOfHandle(HANDLE handle) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        SetFailure(Failure::kOutOfMemory);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "rb");
    if (file == nullptr) {
        _close(descriptor);
        SetFailure(Failure::kOutOfMemory);
    }
    return file;
}

}  // namespace

std::FILE* OpenPictureFile(const char* utf8Path, uint64_t* fileBytes) {
    wchar_t* wide = WideSystemPath(utf8Path);
    if (wide == nullptr) {
        SetFailure(Failure::kNoSuchFile);
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(wide);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        handle = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    const DWORD error = GetLastError();
    std::free(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetFailure(Failure::kIsFolder);
        return nullptr;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        SetFailure(FailureOfSystemError(error));
        return nullptr;
    }
    LARGE_INTEGER size;
    // A device ("NUL", "CON", a pipe) is never read: it may never end.
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        SetFailure(Failure::kNotAFile);
        return nullptr;
    }
    *fileBytes = uint64_t(size.QuadPart);
    return StreamOfHandle(handle);
}

std::FILE* OpenScratchFile() {
    static LONG counter = 0;
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        SetFailure(Failure::kWriteError);
        return nullptr;
    }
    wchar_t name[MAX_PATH + 64];
    for (int attempt = 0; attempt < 64; ++attempt) {
        _snwprintf(name, sizeof name / sizeof name[0], L"%swobzy-stream-%lu-%ld.tmp", folder,
                   GetCurrentProcessId(), InterlockedIncrement(&counter));
        // Gone when the last handle closes, however the process ends; WIC may open it again.
        HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (handle == INVALID_HANDLE_VALUE) break;
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (descriptor < 0) {
            CloseHandle(handle);
            break;
        }
        std::FILE* file = _fdopen(descriptor, "w+b");
        if (file == nullptr) _close(descriptor);
        if (file != nullptr) return file;
        break;
    }
    SetFailure(Failure::kWriteError);
    return nullptr;
}

}  // namespace imaging::detail

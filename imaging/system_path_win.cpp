// UTF-8 paths as the wide Windows file calls take them.
#include "imaging/system_path.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>

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

std::FILE* OpenForReading(const char* utf8Path) {
    wchar_t* wide = WideSystemPath(utf8Path);
    if (wide == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    std::FILE* file = _wfopen(wide, L"rb");
    std::free(wide);
    return file;
}

}  // namespace imaging::detail

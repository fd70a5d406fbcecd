// UTF-8 and UTF-16 for file names. UTF-8 that is not valid is refused rather than replaced, so
// that a name is never silently turned into another file's.
#include "imaging/unicode.h"

#include <windows.h>

#include <cstdlib>

namespace imaging {

wchar_t* Utf8ToWide(const char* text) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(size_t(units) * sizeof(wchar_t)));
    if (wide != nullptr) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, units);
    return wide;
}

char* WideToUtf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return nullptr;
    char* utf8 = static_cast<char*>(std::malloc(size_t(bytes)));
    if (utf8 != nullptr) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace imaging

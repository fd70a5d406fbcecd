// The library takes file names as UTF-8 on every platform. On Windows these conversions bring
// the system's UTF-16 names (a drop, the command line) to it and its UTF-8 names back to the
// wide calls; its callers use them so that every name crosses the boundary the same way.
#pragma once

#ifdef _WIN32
namespace imaging {

// `text` in a new buffer (free it with std::free); null when it is not valid UTF-8 or memory
// runs out.
wchar_t* Utf8ToWide(const char* text);
// `text` in a new buffer (free it with std::free); null when memory runs out. A lone surrogate,
// which a Windows file name may hold, becomes U+FFFD: such a file then fails to open and is
// reported under a readable name.
char* WideToUtf8(const wchar_t* text);

}  // namespace imaging
#endif

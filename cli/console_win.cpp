// wobzy-cli on Windows: its arguments read from the UTF-16 command line, so that a name in any
// script arrives whole whatever the ANSI code page, with the wildcards expanded that the Windows
// shell passes on untouched; and its output written to a console window as UTF-16, so that every
// name reads as the user typed it whatever the console's code page.
#include "cli/console.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "imaging/unicode.h"

// The UTF-8 arguments handed out last, with a null after them, as argv has.
static std::vector<char*> programArguments;

static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/' || c == L':'; }

// Where the last part of a path begins: after its last separator or its drive's colon.
static size_t LastPartStart(const wchar_t* path) {
    size_t start = 0;
    for (size_t i = 0; path[i] != L'\0'; ++i)
        if (IsSeparator(path[i])) start = i + 1;
    return start;
}

// Windows file names never hold '*' or '?', so an argument with them cannot name a file as it
// is: expanding it is never a mistake, quoted or not. Arguments that begin with '-' are options.
static bool IsPattern(const wchar_t* argument) {
    if (argument[0] == L'-') return false;
    const wchar_t* lastPart = argument + LastPartStart(argument);
    return std::wcspbrk(lastPart, L"*?") != nullptr;
}

// One character of a name, a surrogate pair being one: its length in UTF-16 units.
static size_t CharacterUnits(const wchar_t* text) {
    return IS_HIGH_SURROGATE(text[0]) && IS_LOW_SURROGATE(text[1]) ? 2 : 1;
}

// Whether `name` matches `pattern` ('*' any run of characters, '?' exactly one), ignoring case
// as the file system does. FindFirstFileExW alone would also match the short 8.3 form of a name
// ("*.png" finding "a.pngx" as A~1.PNG) and let '?' match nothing before a dot.
static bool NameMatches(const wchar_t* pattern, const wchar_t* name) {
    const wchar_t* afterStar = nullptr;  // where the pattern goes on after its last '*'
    const wchar_t* starName = nullptr;   // the name's part that the last '*' has taken so far ends here
    while (*name != L'\0') {
        const size_t units = CharacterUnits(name);
        if (*pattern == L'*') {
            afterStar = ++pattern;
            starName = name;
        } else if (*pattern == L'?') {
            ++pattern;
            name += units;
        } else if (*pattern != L'\0' && CharacterUnits(pattern) == units &&
                   CompareStringOrdinal(pattern, int(units), name, int(units), TRUE) == CSTR_EQUAL) {
            pattern += units;
            name += units;
        } else if (afterStar != nullptr) {
            // The last '*' takes one more character and the rest is tried again.
            starName += CharacterUnits(starName);
            name = starName;
            pattern = afterStar;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == L'\0';
}

// Case-blind as Explorer lists a folder; two names that differ only in case keep a fixed order.
static bool SortsBefore(const wchar_t* a, const wchar_t* b) {
    const int blind = CompareStringOrdinal(a, -1, b, -1, TRUE);
    return blind != CSTR_EQUAL ? blind == CSTR_LESS_THAN : CompareStringOrdinal(a, -1, b, -1, FALSE) == CSTR_LESS_THAN;
}

// `folderLength` units of `folder` followed by `name`, in a new buffer; null when memory runs out.
static wchar_t* JoinPath(const wchar_t* folder, size_t folderLength, const wchar_t* name) {
    const size_t nameLength = std::wcslen(name);
    if (nameLength > (SIZE_MAX / sizeof(wchar_t)) - 1 - folderLength) return nullptr;
    wchar_t* path = static_cast<wchar_t*>(std::malloc((folderLength + nameLength + 1) * sizeof(wchar_t)));
    if (path == nullptr) return nullptr;
    std::memcpy(path, folder, folderLength * sizeof(wchar_t));
    std::memcpy(path + folderLength, name, (nameLength + 1) * sizeof(wchar_t));
    return path;
}

static void FreeAll(std::vector<wchar_t*>* paths) {
    for (wchar_t* path : *paths) std::free(path);
    paths->clear();
}

// The folder's search: `pattern` with every '?' widened to '*', since the system's '?' is one
// UTF-16 unit and a character beyond the BMP takes two; NameMatches then decides. Null when
// memory runs out.
static wchar_t* SearchPattern(const wchar_t* pattern) {
    wchar_t* search = JoinPath(pattern, 0, pattern);
    if (search == nullptr) return nullptr;
    for (wchar_t* c = search + LastPartStart(search); *c != L'\0'; ++c)
        if (*c == L'?') *c = L'*';
    return search;
}

// The files (not folders) that `pattern` names, its folder part kept as written, sorted by name;
// false when memory runs out.
static bool FindMatches(const wchar_t* pattern, std::vector<wchar_t*>* matches) {
    const size_t folderLength = LastPartStart(pattern);
    const wchar_t* namePattern = pattern + folderLength;
    // Every name is what cmd's "*.*" would list.
    if (std::wcscmp(namePattern, L"*.*") == 0) namePattern = L"*";
    wchar_t* searchPattern = SearchPattern(pattern);
    if (searchPattern == nullptr) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(searchPattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    std::free(searchPattern);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool complete = true;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !NameMatches(namePattern, found.cFileName))
            continue;
        wchar_t* path = JoinPath(pattern, folderLength, found.cFileName);
        if (path == nullptr) complete = false;
        else matches->push_back(path);
    } while (complete && FindNextFileW(search, &found));
    FindClose(search);
    if (!complete) {
        FreeAll(matches);
        return false;
    }
    std::sort(matches->begin(), matches->end(), SortsBefore);
    return true;
}

// Appends the UTF-8 form of `argument` to the program's arguments; false when memory runs out.
static bool AddArgument(const wchar_t* argument) {
    char* utf8 = imaging::WideToUtf8(argument);
    if (utf8 == nullptr) return false;
    programArguments.push_back(utf8);
    return true;
}

// The argument itself, or the files it matches when it is a pattern that matches any.
static bool AddExpanded(const wchar_t* argument) {
    if (!IsPattern(argument)) return AddArgument(argument);
    std::vector<wchar_t*> matches;
    if (!FindMatches(argument, &matches)) return false;
    bool added = true;
    for (const wchar_t* match : matches) added = added && AddArgument(match);
    if (matches.empty()) added = AddArgument(argument);  // reported as missing, by the name given
    FreeAll(&matches);
    return added;
}

static void ReleaseProgramArguments() {
    for (char* argument : programArguments) std::free(argument);
    programArguments.clear();
}

char** ArgumentsOfCommandLine(const wchar_t* commandLine, int* count) {
    ReleaseProgramArguments();
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(commandLine, &wideCount);
    if (wide == nullptr) return nullptr;
    bool complete = true;
    for (int i = 0; i < wideCount && complete; ++i) complete = i == 0 ? AddArgument(wide[i]) : AddExpanded(wide[i]);
    LocalFree(wide);
    if (!complete || programArguments.size() > size_t(INT_MAX)) {
        ReleaseProgramArguments();
        return nullptr;
    }
    *count = static_cast<int>(programArguments.size());
    programArguments.push_back(nullptr);
    return programArguments.data();
}

char** ProgramArguments(int* argc, char** argv) {
    int count = 0;
    char** arguments = ArgumentsOfCommandLine(GetCommandLineW(), &count);
    if (arguments == nullptr) return argv;  // the ANSI arguments are better than none
    *argc = count;
    return arguments;
}

bool WriteTextToHandle(void* handle, const char* text, size_t length) {
    if (length > size_t(INT_MAX)) return false;
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        return WriteFile(handle, text, DWORD(length), &written, nullptr) && written == length;
    }
    if (length == 0) return true;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, int(length), nullptr, 0);
    if (units <= 0 || size_t(units) > SIZE_MAX / sizeof(wchar_t)) return false;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(size_t(units) * sizeof(wchar_t)));
    if (wide == nullptr) return false;
    MultiByteToWideChar(CP_UTF8, 0, text, int(length), wide, units);
    DWORD written = 0;
    const bool complete = WriteConsoleW(handle, wide, DWORD(units), &written, nullptr) && written == DWORD(units);
    std::free(wide);
    return complete;
}

// A console gets the text through WriteTextToHandle, after what the stream holds; a file or a
// pipe gets the bytes through the stream, with its line ends.
void PrintTo(std::FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    char* text = length >= 0 && size_t(length) < SIZE_MAX ? static_cast<char*>(std::malloc(size_t(length) + 1)) : nullptr;
    if (text == nullptr) {
        std::vfprintf(stream, format, arguments);
        va_end(arguments);
        return;
    }
    std::vsnprintf(text, size_t(length) + 1, format, arguments);
    va_end(arguments);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    std::fflush(stream);
    if (!GetConsoleMode(handle, &mode) || !WriteTextToHandle(handle, text, size_t(length)))
        std::fwrite(text, 1, size_t(length), stream);
    std::free(text);
}

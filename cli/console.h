// wobzy-cli's meeting with the system it runs on: its arguments as UTF-8, and its output shown
// legibly. On Windows the arguments come from the UTF-16 command line, with the wildcards that
// the Windows shell leaves to programs expanded, and text that goes to a console window reaches
// it as UTF-16; on other systems both are the bytes as they are (console_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdio>

// The program's arguments as UTF-8 strings, the program's name first; *argc is set to their
// number. They live until the process ends.
char** ProgramArguments(int* argc, char** argv);

// printf into `stream`: UTF-8 text reaches a console as the characters it encodes, a file or a
// pipe as the UTF-8 bytes.
void PrintTo(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

#ifdef _WIN32
// The arguments of `commandLine` (as CommandLineToArgvW splits it) in UTF-8 with wildcards
// expanded: an argument whose last part holds '*' or '?' and that does not begin with '-' becomes
// the files of its folder whose names match, sorted; one that matches none stays as it is. Null
// when memory runs out.
char** ArgumentsOfCommandLine(const wchar_t* commandLine, int* count);

// Writes `length` bytes of UTF-8 text to `handle`: through WriteConsoleW when it is a console,
// as the bytes otherwise. False when they could not be written.
bool WriteTextToHandle(void* handle, const char* text, size_t length);
#endif

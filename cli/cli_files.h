// The few things the command line does with files itself, on UTF-8 names: folders for its
// outputs, the PNG frames, and standard streams (cli_files_posix.cpp, cli_files_win.cpp).
#pragma once

#include <cstdio>
#include <string>

// Makes `path` and the folders above it that are missing; true when it is a folder afterwards.
bool MakeFolders(const std::string& path);

// Opens a new or existing file for binary writing, or null.
std::FILE* OpenForWriting(const std::string& path);

bool IsTerminal(std::FILE* stream);

// Puts standard input and output in binary mode (a GIF or a picture is bytes, never text).
void UseBinaryStandardStreams();

// The last part of a path, after the last folder separator.
const char* FileNameOf(const char* path);

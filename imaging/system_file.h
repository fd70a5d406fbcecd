// The few file operations the whole-or-nothing writer needs, on UTF-8 paths: one implementation
// per platform (system_file_posix.cpp, system_file_win.cpp).
#pragma once

#include <cstdio>

namespace imaging::detail {

int CurrentProcessId();
// A new file opened for writing: a descriptor, or -1 (errno EEXIST when the name is taken).
int CreateNewFile(const char* path);
// The descriptor as a buffered stream, or null.
std::FILE* StreamOf(int descriptor);
void CloseDescriptor(int descriptor);
bool SyncToDisk(std::FILE* stream);
// Renames `from` over `to`, replacing a file of that name.
bool RenameOver(const char* from, const char* to);
void DeleteTemporary(const char* path);

}  // namespace imaging::detail

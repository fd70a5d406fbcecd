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

// A new file in `folder` without a name (Linux O_TMPFILE), open for writing: a descriptor, or -1
// with errno (EOPNOTSUPP, EISDIR or EINVAL where the system or the file system has none).
int CreateUnnamedFile(const char* folder);
// Gives the unnamed file behind `stream` the name `path`; false with errno (EEXIST when taken).
bool NameUnnamedFile(std::FILE* stream, const char* path);
// True when no process with this id runs any more.
bool ProcessGone(int processId);
// Calls visit(context, name) for every entry of `folder` (not "." and "..").
void ForEachEntry(const char* folder, void (*visit)(void* context, const char* name), void* context);

}  // namespace imaging::detail

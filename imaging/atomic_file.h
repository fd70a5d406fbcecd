// Writing a file whole or not at all: the bytes go to a temporary file in the target's folder,
// which replaces the target only once it is completely written, flushed and closed. Where the
// system has unnamed files (Linux O_TMPFILE) the temporary file has no name until it becomes the
// target, so a crash or a kill leaves nothing; elsewhere it has a short name (.wobzy-PID-N.tmp)
// that never makes a save fail that the target's name alone would allow, and that later saves
// into the folder recognise and remove once the process that wrote it is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace imaging::detail {

enum class TemporaryKind {
    kUnnamedWhereSupported,
    kNamed,  // the short name even where unnamed files exist (tests of the fallback)
};

struct PendingFile {
    std::FILE* stream = nullptr;
    std::string tempPath;    // the short name; empty while the file is unnamed
    std::string targetPath;
    bool failed = false;     // a write went wrong; Commit will refuse
};

// Creates the temporary file for `path` (never one that exists already), first removing stale
// named ones in its folder. False when it cannot.
bool BeginFile(const char* path, PendingFile* file, TemporaryKind kind = TemporaryKind::kUnnamedWhereSupported);

// Appends bytes; false (and the file marked failed) when they could not all be written.
bool WriteToFile(PendingFile* file, const uint8_t* bytes, size_t count);

// Flushes and closes the temporary file and puts it in place of the target, replacing a file of
// that name. On any failure the temporary file is gone, the target is untouched, and false returns.
bool CommitFile(PendingFile* file);

// Closes and deletes the temporary file; the target is untouched.
void AbandonFile(PendingFile* file);

// The folder part of `path` ("." when it has none), and whether `name` is a temporary file name
// this writer gives, with the process id it holds.
std::string FolderOf(const std::string& path);
bool IsTemporaryName(const char* name, int* processId);

}  // namespace imaging::detail

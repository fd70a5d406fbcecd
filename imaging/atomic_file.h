// Writing a file whole or not at all: the bytes go to a new temporary file beside the target,
// which replaces the target only once it is completely written, flushed and closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace imaging::detail {

struct PendingFile {
    std::FILE* stream = nullptr;
    std::string tempPath;    // path + ".tmp-<process>-<n>", in the target's folder
    std::string targetPath;
    bool failed = false;     // a write went wrong; Commit will refuse
};

// Creates the temporary file for `path` (never one that exists already). False when it cannot.
bool BeginFile(const char* path, PendingFile* file);

// Appends bytes; false (and the file marked failed) when they could not all be written.
bool WriteToFile(PendingFile* file, const uint8_t* bytes, size_t count);

// Flushes and closes the temporary file and renames it over the target, replacing a file of that
// name. On any failure the temporary file is deleted, the target is untouched, and false returns.
bool CommitFile(PendingFile* file);

// Closes and deletes the temporary file; the target is untouched.
void AbandonFile(PendingFile* file);

}  // namespace imaging::detail

// File names cross into the library as UTF-8 on every platform. On Windows they reach the system
// as UTF-16, in the \\?\ form where they are too long for the classic MAX_PATH limit, so that
// any name a user can see, of any length, can be opened, written, renamed and deleted.
#pragma once

#include <cstdint>
#include <cstdio>

namespace imaging::detail {

#ifdef _WIN32
// The UTF-16 path for the wide file calls, in a new buffer (free it with std::free); null when
// `utf8Path` is not valid UTF-8 or memory runs out.
wchar_t* WideSystemPath(const char* utf8Path);
#endif

// Opens a picture file for binary reading and tells its length. Only a regular file is opened:
// a folder, a FIFO or a device is refused at once, without blocking. Null, with the reason in
// LastFailure(), when the file cannot be read.
std::FILE* OpenPictureFile(const char* utf8Path, uint64_t* fileBytes);

// A new, empty temporary file open for reading and writing that leaves nothing behind once
// closed, whatever ends the process (O_TMPFILE, or a name removed at once; delete-on-close on
// Windows); null, with the reason recorded, when none can be made.
std::FILE* OpenScratchFile();

// Copies `stream` to its end into a new unnamed temporary file (one that no crash can leave
// behind) and returns it open for reading at its start, with its length. Null, with the reason in
// LastFailure(), when it cannot be written or the stream holds more than `largest` bytes
// (kTooLarge).
std::FILE* SpoolStream(std::FILE* stream, uint64_t largest, uint64_t* fileBytes);

}  // namespace imaging::detail

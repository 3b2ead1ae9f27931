// unix_file: the library's files: open modes, reading, writing, seeking and deleting over stdio.
#ifndef KESTRELON2_UNIX_UNIX_FILE_H
#define KESTRELON2_UNIX_UNIX_FILE_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// An open file; only this module sees inside it.
struct aFile;

// Open modes of aFile_Open; any other value is refused.
inline constexpr int aFILE_MODE_READ = 0;   // existing file: read, read line
inline constexpr int aFILE_MODE_WRITE = 1;  // created or truncated: write, printf
inline constexpr int aFILE_MODE_APPEND = 2; // created if missing, positioned at the end: all of the above

// Longest path, in characters, that any file or directory operation accepts.
inline constexpr size_t aFILE_MAX_PATH = 4096;

// Origins of aFile_Seek; any other value counts from the start.
inline constexpr int aFILE_SEEK_START = 0;
inline constexpr int aFILE_SEEK_CURRENT = 1;
inline constexpr int aFILE_SEEK_END = 2;

// True for a non-null record that is still open.
bool aVALIDFILE(const aFile* file);

// True when the path can be examined and is not a directory.
bool aFile_Exists(const char* path);

// A new open file, or null when the path is null, empty or too long, the mode is unknown,
// memory is short or the file cannot be opened.
aFile* aFile_Open(const char* path, int mode);

// Closes and frees the file and clears the caller's pointer in every case. aErrParam for a bad
// record; aErrIO when data still buffered could not be written out.
aErr aFile_Close(aFile** file);

// Reads up to length bytes; a short read is success. aErrEOF when nothing was left to read,
// aErrIO when the read failed. The count (0 then) is stored whenever a read was tried.
aErr aFile_Read(aFile* file, uint8_t* buffer, size_t length, size_t* count);

// Writes up to length bytes and stores the count written; aErrIO when nothing could be written.
aErr aFile_Write(aFile* file, const uint8_t* data, size_t length, size_t* count);

// Moves to offset from the origin. aErrRange for a target before the start or past the end.
aErr aFile_Seek(aFile* file, int32_t offset, int origin);

// The size in bytes, buffered output included; the size reads 0 on aErrIO.
aErr aFile_GetSize(aFile* file, size_t* size);

// The current position, stored when the out pointer is non-null.
aErr aFile_GetPosition(aFile* file, size_t* position);

// Removes a file (never a directory): aErrNotFound, aErrPermission or aErrIO on failure.
aErr aFile_Delete(const char* path);

// Reads one line of at most size - 1 characters, keeping its newline, into a terminated buffer
// and stores its length. aErrOverrun when the line did not fit (the rest stays unread); aErrParam
// for a null buffer or a size below 2, which cannot hold a character.
aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length);

// Makes every later write reach the file at once; write and append mode only.
aErr aFile_SetUnbuffered(aFile* file);

// Formatted write; write and append mode only.
aErr aFile_Printf(aFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif

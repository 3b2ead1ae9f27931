// aDirectory: paths and directories of the local file system.
#ifndef KESTRELON2_COMMON_ADIRECTORY_H
#define KESTRELON2_COMMON_ADIRECTORY_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// The separator between path components, as a text so that it joins literals.
#define aDIR_PATH_SEP "/"

// Most components aDirectory_BuildPath joins: the first and nine more.
inline constexpr size_t aDIR_MAX_COMPONENTS = 10;

// True when the path is non-null and names an existing directory.
bool aDirectory_Exists(const char* path);

// Makes sure the path is a directory, creating it and every missing ancestor with mode.
// aErrParam for a null path, aErrFileNameLength beyond 4096 characters,
// aErrPermission when a directory cannot be created or the path is taken by something else.
aErr aDirectory_Ensure(const char* path, uint32_t mode);

// One entry handed to an aDirectory_List callback; path is valid only during the call.
typedef struct aDirectoryListData {
    const char* path; // the listed directory, aDIR_PATH_SEP, the entry's name
    uint64_t size;    // bytes, as the file system reports them
    bool isDirectory;
} aDirectoryListData;

// Called once per entry; returning false ends the listing.
typedef bool (*aDirectoryListCallback)(const aDirectoryListData* entry, void* context);

// Calls the callback for each entry in the order the file system returns them, "." and ".."
// included, skipping entries that cannot be examined (their stat fails). aErrParam for a null
// path or callback, aErrNotFound when the directory cannot be opened; aErrNone otherwise, also
// when the callback ended the listing early.
aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context);

// Removes an empty directory. aErrParam for a null path, aErrUnknown when it cannot be removed.
aErr aDirectory_Delete(const char* path);

// Removes the directory and everything below it, depth first. Symbolic links are removed as
// links, never followed, and a path that is itself a link is refused, so nothing outside the
// tree is touched. An entry that cannot be removed is reported on standard error and standard
// output and ends the removal with aErrUnknown. aErrParam for a null path, aErrNotFound when
// the directory cannot be opened, aErrUnknown when it cannot be removed in the end.
aErr aDirectory_DeleteTree(const char* path);

// Replaces the file at path with the bytes as one step: they go to a new file in the same
// directory, reach the disk, and only then take the path's name, so a crash or a full disk
// leaves either the old file or the new one, never a part. An existing file's permissions are
// kept. aErrParam for a null path or null data with a length, aErrFileNameLength beyond
// aFILE_MAX_PATH characters, aErrNotFound when the new file cannot be created, aErrIO when
// writing it or renaming it fails. On failure the old file is untouched, no new file is left
// behind, and errno holds the error of the step that failed.
aErr aDirectory_ReplaceFile(const char* path, const uint8_t* data, size_t length);

// The current working directory, terminated. aErrParam for a null buffer or when it cannot be
// read or does not fit in size bytes.
aErr aDirectory_CWD(char* buffer, size_t size);

// The path of the running program, terminated and cut to size - 1 characters. aErrParam for a
// null buffer or a size of 0, aErrRead when it cannot be read.
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);

// The current user's home directory from the user database, else from HOME. aErrNotFound when
// neither yields one, aErrOverrun when it does not fit in size bytes with its terminator.
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);

// aDirectory_BuildPath with two components.
aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second);

// Joins first and the further components up to a null pointer, putting aDIR_PATH_SEP between
// two of them unless the text so far ends with it, the next one begins with it or nothing has
// been written yet. aErrParam for a null buffer or first component, more than
// aDIR_MAX_COMPONENTS components, or a component that lies inside the buffer; aErrOverrun when
// the result and its terminator do not fit in size bytes. The buffer is written only on success.
aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...);

#endif

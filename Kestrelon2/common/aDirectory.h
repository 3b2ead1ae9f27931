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

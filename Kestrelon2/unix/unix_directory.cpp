// unix_directory: the directory functions that ask the file system and the user database.
#include "Kestrelon2/common/aDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_file.h"

// Largest buffer offered to the user database for one entry; real entries need far less.
static constexpr size_t sMaxUserEntrySize = 1u << 20;

static bool sCreate(const char* path, uint32_t mode)
{
    return mkdir(path, static_cast<mode_t>(mode)) == 0 || errno == EEXIST;
}

// Copies text with its terminator when it fits in size bytes.
static aErr sCopy(char* buffer, size_t size, const char* text)
{
    const size_t length = std::strlen(text);
    if (length >= size) {
        return aErrOverrun;
    }
    std::memcpy(buffer, text, length + 1);
    return aErrNone;
}

bool aDirectory_Exists(const char* path)
{
    struct stat info;
    return path != nullptr && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

aErr aDirectory_Ensure(const char* path, uint32_t mode)
{
    if (path == nullptr) {
        return aErrParam;
    }
    const size_t length = strnlen(path, aFILE_MAX_PATH + 1);
    if (length > aFILE_MAX_PATH) {
        return aErrFileNameLength;
    }
    if (aDirectory_Exists(path)) {
        return aErrNone;
    }
    char partial[aFILE_MAX_PATH + 1];
    std::memcpy(partial, path, length + 1);
    // Each ancestor in turn, cut off at its separator; the leading one of an absolute path is the root.
    for (size_t i = 1; i < length; ++i) {
        if (partial[i] != aDIR_PATH_SEP[0]) {
            continue;
        }
        partial[i] = '\0';
        const bool created = sCreate(partial, mode);
        partial[i] = aDIR_PATH_SEP[0];
        if (!created) {
            return aErrPermission;
        }
    }
    // EEXIST also comes for a file of that name, so only a directory in the end counts.
    if (!sCreate(path, mode) || !aDirectory_Exists(path)) {
        return aErrPermission;
    }
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size)
{
    if (buffer == nullptr) {
        return aErrParam;
    }
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t entrySize = suggested > 0 ? static_cast<size_t>(suggested) : 1024;
    while (entrySize <= sMaxUserEntrySize) {
        char* entryText = static_cast<char*>(std::malloc(entrySize));
        if (entryText == nullptr) {
            break;
        }
        passwd entry;
        passwd* found = nullptr;
        const int result = getpwuid_r(getuid(), &entry, entryText, entrySize, &found);
        if (result == 0 && found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
            const aErr copied = sCopy(buffer, size, found->pw_dir);
            std::free(entryText);
            return copied;
        }
        std::free(entryText);
        if (result != ERANGE) {
            break;
        }
        entrySize *= 2;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        return aErrNotFound;
    }
    return sCopy(buffer, size, home);
}

// unix_directory: the directory functions that reach the file system (listing, creating, removing, replacing a file whole) and the user database.
#include "Kestrelon2/common/aDirectory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_file.h"

// Largest buffer offered to the user database for one entry; real entries need far less.
static constexpr size_t sMaxUserEntrySize = 1u << 20;

// Names of replacement files tried before giving up: one is taken only when another writer, or
// a crashed one with a recycled process id, used the same name.
static constexpr unsigned sMaxReplaceAttempts = 64;

// Counts replacement files of this process, so that two threads never pick the same name.
static std::atomic<unsigned> sReplaceCount{0};

// The path of the entry being removed, kept for messages only: removal goes by directory handles,
// so a tree deeper than any path buffer still goes, and only its message is cut.
struct sTreePath {
    char text[aFILE_MAX_PATH + 1];
    size_t length;
};

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

aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context)
{
    if (path == nullptr || callback == nullptr) {
        return aErrParam;
    }
    DIR* directory = opendir(path);
    if (directory == nullptr) {
        return aErrNotFound;
    }
    char full[aFILE_MAX_PATH + 1];
    for (const dirent* entry = readdir(directory); entry != nullptr; entry = readdir(directory)) {
        struct stat info;
        if (aDirectory_JoinPath(full, sizeof full, path, entry->d_name) != aErrNone || stat(full, &info) != 0) {
            continue;
        }
        const aDirectoryListData data = {full, static_cast<uint64_t>(info.st_size), S_ISDIR(info.st_mode)};
        if (!callback(&data, context)) {
            break;
        }
    }
    closedir(directory);
    return aErrNone;
}

aErr aDirectory_Delete(const char* path)
{
    if (path == nullptr) {
        return aErrParam;
    }
    return rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

// Appends the separator and name as far as they fit; returns the length to go back to.
static size_t sTreePathPush(sTreePath* path, const char* name)
{
    const size_t mark = path->length;
    const int written = snprintf(path->text + mark, sizeof path->text - mark, "%s%s", aDIR_PATH_SEP, name);
    if (written > 0) {
        path->length = std::min(mark + static_cast<size_t>(written), sizeof path->text - 1);
    }
    return mark;
}

static void sTreePathPop(sTreePath* path, size_t mark)
{
    path->length = mark;
    path->text[mark] = '\0';
}

// Removes the directory name inside the open directory parent. Entries are examined without
// following links, so a link to a directory elsewhere is removed as a link and its target stays.
static aErr sDeleteTree(int parent, const char* name, sTreePath* path)
{
    const int handle = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        return aErrNotFound;
    }
    DIR* directory = fdopendir(handle);
    if (directory == nullptr) {
        close(handle);
        return aErrNotFound;
    }
    aErr result = aErrNone;
    for (const dirent* entry = readdir(directory); entry != nullptr && result == aErrNone; entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        struct stat info;
        if (fstatat(handle, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        const size_t mark = sTreePathPush(path, entry->d_name);
        if (S_ISDIR(info.st_mode)) {
            result = sDeleteTree(handle, entry->d_name, path);
        } else if (unlinkat(handle, entry->d_name, 0) != 0) {
            perror("aDirectory_DeleteTree");
            printf("---error unlink-ing file [%s]\n", path->text);
            fflush(stdout);
            result = aErrUnknown;
        }
        sTreePathPop(path, mark);
    }
    closedir(directory);
    // Whatever could not be removed above keeps the directory from going here.
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path)
{
    if (path == nullptr) {
        return aErrParam;
    }
    sTreePath treePath;
    const int written = snprintf(treePath.text, sizeof treePath.text, "%s", path);
    treePath.length = written > 0 ? std::min(static_cast<size_t>(written), sizeof treePath.text - 1) : 0;
    return sDeleteTree(AT_FDCWD, path, &treePath);
}

// Makes a rename in the directory survive a power loss; a file system that cannot sync a
// directory still has the rename, so a failure here is no failure of the replacement.
static void sSyncDirectory(const char* path, size_t directoryLength)
{
    char directory[aFILE_MAX_PATH + 1];
    if (directoryLength == 0) {
        std::strcpy(directory, ".");
    } else {
        std::memcpy(directory, path, directoryLength);
        directory[directoryLength] = '\0';
    }
    const int handle = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) {
        fsync(handle);
        close(handle);
    }
}

static bool sWriteAll(int handle, const uint8_t* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write(handle, data + done, length - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

aErr aDirectory_ReplaceFile(const char* path, const uint8_t* data, size_t length)
{
    if (path == nullptr || path[0] == '\0' || (data == nullptr && length > 0)) {
        errno = EINVAL;
        return aErrParam;
    }
    if (strnlen(path, aFILE_MAX_PATH + 1) > aFILE_MAX_PATH) {
        errno = ENAMETOOLONG;
        return aErrFileNameLength;
    }
    // The new file starts with "." so that listings which hide such names never offer it.
    const char* slash = std::strrchr(path, aDIR_PATH_SEP[0]);
    const size_t directoryLength = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    char temporary[aFILE_MAX_PATH + 1];
    int handle = -1;
    for (unsigned attempt = 0; attempt < sMaxReplaceAttempts && handle < 0; ++attempt) {
        const int written = snprintf(temporary, sizeof temporary, "%.*s.tmp-%ld-%u", static_cast<int>(directoryLength),
                                     path, static_cast<long>(getpid()), sReplaceCount.fetch_add(1));
        if (written < 0 || static_cast<size_t>(written) >= sizeof temporary) {
            errno = ENAMETOOLONG;
            return aErrNotFound;
        }
        handle = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST) {
            return aErrNotFound;
        }
    }
    if (handle < 0) {
        return aErrNotFound;
    }
    struct stat existing;
    if (stat(path, &existing) == 0 && S_ISREG(existing.st_mode)) {
        fchmod(handle, existing.st_mode & 07777);
    }
    // Synced before the rename: otherwise a power loss could leave the new name on an empty file.
    bool replaced = sWriteAll(handle, data, length) && fsync(handle) == 0;
    int error = errno;
    if (close(handle) != 0 && replaced) {
        replaced = false;
        error = errno;
    }
    if (replaced && rename(temporary, path) != 0) {
        replaced = false;
        error = errno;
    }
    if (!replaced) {
        unlink(temporary);
        errno = error;
        return aErrIO;
    }
    sSyncDirectory(path, directoryLength);
    return aErrNone;
}

aErr aDirectory_CWD(char* buffer, size_t size)
{
    if (buffer == nullptr) {
        return aErrParam;
    }
    char current[aFILE_MAX_PATH + 1];
    if (getcwd(current, sizeof current) == nullptr || sCopy(buffer, size, current) != aErrNone) {
        return aErrParam;
    }
    return aErrNone;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0) {
        return aErrParam;
    }
    char target[aFILE_MAX_PATH + 1];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    // A link as long as the buffer may have been cut by readlink itself.
    if (length < 0 || static_cast<size_t>(length) >= sizeof target) {
        return aErrRead;
    }
    const size_t kept = std::min(static_cast<size_t>(length), size - 1);
    std::memcpy(buffer, target, kept);
    buffer[kept] = '\0';
    return aErrNone;
}

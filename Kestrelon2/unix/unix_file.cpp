// unix_file: the library's files over stdio, with OS errors mapped to aErr codes.
#include "Kestrelon2/unix/unix_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static constexpr uint16_t sFileCheck = 0xFEED;

// Which way the stream moved last. stdio forbids switching between reading and writing on one
// stream without a positioning call in between, which an append-mode file allows its callers to do.
enum sAccess { kAccessNone, kAccessRead, kAccessWrite };

struct aFile {
    uint16_t check;
    int mode;
    sAccess lastAccess;
    FILE* stream;
};

static bool sPathAcceptable(const char* path)
{
    return path != nullptr && strnlen(path, aFILE_MAX_PATH + 1) <= aFILE_MAX_PATH;
}

static bool sCanRead(const aFile* file)
{
    return file->mode == aFILE_MODE_READ || file->mode == aFILE_MODE_APPEND;
}

static bool sCanWrite(const aFile* file)
{
    return file->mode == aFILE_MODE_WRITE || file->mode == aFILE_MODE_APPEND;
}

// Repositions in place when the direction changes, as stdio requires; false if that fails.
static bool sTurnTo(aFile* file, sAccess access)
{
    if (file->lastAccess != kAccessNone && file->lastAccess != access
        && fseeko(file->stream, 0, SEEK_CUR) != 0) {
        return false;
    }
    file->lastAccess = access;
    return true;
}

// Seeks to the end to learn the size, then back to position; seeking also flushes buffered
// output, so the size includes it.
static bool sMeasureSize(aFile* file, off_t position, off_t* size)
{
    if (fseeko(file->stream, 0, SEEK_END) != 0) {
        return false;
    }
    const off_t end = ftello(file->stream);
    const bool restored = fseeko(file->stream, position, SEEK_SET) == 0;
    file->lastAccess = kAccessNone;
    if (end < 0 || !restored) {
        return false;
    }
    *size = end;
    return true;
}

bool aVALIDFILE(const aFile* file)
{
    return file != nullptr && file->check == sFileCheck;
}

bool aFile_Exists(const char* path)
{
    struct stat info;
    return sPathAcceptable(path) && stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
}

aFile* aFile_Open(const char* path, int mode)
{
    static const char* const sModes[] = {"rb", "wb", "a+b"};
    if (!sPathAcceptable(path) || path[0] == '\0' || mode < aFILE_MODE_READ || mode > aFILE_MODE_APPEND) {
        return nullptr;
    }
    auto* file = static_cast<aFile*>(std::malloc(sizeof(aFile)));
    if (file == nullptr) {
        return nullptr;
    }
    FILE* stream = std::fopen(path, sModes[mode]);
    // Reading in append mode starts where writing would, at the end.
    if (stream == nullptr || (mode == aFILE_MODE_APPEND && fseeko(stream, 0, SEEK_END) != 0)) {
        if (stream != nullptr) {
            std::fclose(stream);
        }
        std::free(file);
        return nullptr;
    }
    file->check = sFileCheck;
    file->mode = mode;
    file->lastAccess = kAccessNone;
    file->stream = stream;
    return file;
}

aErr aFile_Close(aFile** file)
{
    if (file == nullptr) {
        return aErrParam;
    }
    aFile* record = *file;
    *file = nullptr;
    if (!aVALIDFILE(record)) {
        return aErrParam;
    }
    record->check = 0;
    // The last buffered bytes are written here; losing them must not read as success.
    const int closed = std::fclose(record->stream);
    std::free(record);
    return closed == 0 ? aErrNone : aErrIO;
}

aErr aFile_Read(aFile* file, uint8_t* buffer, size_t length, size_t* count)
{
    if (!aVALIDFILE(file) || buffer == nullptr) {
        return aErrParam;
    }
    if (!sCanRead(file)) {
        return aErrMode;
    }
    if (!sTurnTo(file, kAccessRead)) {
        return aErrIO;
    }
    // The end-of-file flag is sticky; clearing it lets a file that has grown be read on.
    std::clearerr(file->stream);
    const size_t got = std::fread(buffer, 1, length, file->stream);
    if (count != nullptr) {
        *count = got;
    }
    if (got == 0 && length > 0) {
        // A failing device must not look like a complete file to a caller reading to the end.
        return std::ferror(file->stream) ? aErrIO : aErrEOF;
    }
    return aErrNone;
}

aErr aFile_Write(aFile* file, const uint8_t* data, size_t length, size_t* count)
{
    if (!aVALIDFILE(file) || data == nullptr) {
        return aErrParam;
    }
    if (!sCanWrite(file)) {
        return aErrMode;
    }
    if (!sTurnTo(file, kAccessWrite)) {
        return aErrIO;
    }
    const size_t put = std::fwrite(data, 1, length, file->stream);
    if (count != nullptr) {
        *count = put;
    }
    return put == 0 && length > 0 ? aErrIO : aErrNone;
}

aErr aFile_Seek(aFile* file, int32_t offset, int origin)
{
    if (!aVALIDFILE(file)) {
        return aErrParam;
    }
    const off_t position = ftello(file->stream);
    off_t size = 0;
    if (position < 0 || !sMeasureSize(file, position, &size)) {
        return aErrIO;
    }
    off_t base = 0;
    if (origin == aFILE_SEEK_CURRENT) {
        base = position;
    } else if (origin == aFILE_SEEK_END) {
        base = size;
    }
    const off_t target = base + offset;
    if (target < 0 || target > size) {
        return aErrRange;
    }
    if (fseeko(file->stream, target, SEEK_SET) != 0 || ftello(file->stream) != target) {
        return aErrIO;
    }
    return aErrNone;
}

aErr aFile_GetSize(aFile* file, size_t* size)
{
    if (size == nullptr || !aVALIDFILE(file)) {
        return aErrParam;
    }
    *size = 0;
    const off_t position = ftello(file->stream);
    off_t measured = 0;
    if (position < 0 || !sMeasureSize(file, position, &measured)) {
        return aErrIO;
    }
    *size = static_cast<size_t>(measured);
    return aErrNone;
}

aErr aFile_GetPosition(aFile* file, size_t* position)
{
    if (!aVALIDFILE(file)) {
        return aErrParam;
    }
    const off_t current = ftello(file->stream);
    if (current < 0) {
        return aErrIO;
    }
    if (position != nullptr) {
        *position = static_cast<size_t>(current);
    }
    return aErrNone;
}

aErr aFile_Delete(const char* path)
{
    if (path == nullptr) {
        return aErrParam;
    }
    if (!sPathAcceptable(path)) {
        return aErrFileNameLength;
    }
    if (unlink(path) == 0) {
        return aErrNone;
    }
    switch (errno) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
    case EPERM:
        return aErrPermission;
    default:
        return aErrIO;
    }
}

aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length)
{
    if (length != nullptr) {
        *length = 0;
    }
    if (buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    if (!aVALIDFILE(file) || buffer == nullptr || size < 2) {
        return aErrParam;
    }
    if (!sCanRead(file)) {
        return aErrMode;
    }
    if (!sTurnTo(file, kAccessRead)) {
        return aErrIO;
    }
    std::clearerr(file->stream);
    // Byte by byte rather than fgets, so that a zero byte inside a line cannot hide its length.
    size_t stored = 0;
    while (stored < size - 1) {
        const int c = std::getc(file->stream);
        if (c == EOF) {
            break;
        }
        buffer[stored++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[stored] = '\0';
    if (length != nullptr) {
        *length = stored;
    }
    if (stored == 0) {
        return std::ferror(file->stream) ? aErrIO : aErrEOF;
    }
    if (stored == size - 1 && buffer[stored - 1] != '\n') {
        return aErrOverrun;
    }
    return aErrNone;
}

aErr aFile_SetUnbuffered(aFile* file)
{
    if (!aVALIDFILE(file)) {
        return aErrParam;
    }
    if (!sCanWrite(file)) {
        return aErrMode;
    }
    // Whatever is buffered already goes out first; dropping it silently would lose data.
    if (std::fflush(file->stream) != 0) {
        return aErrIO;
    }
    return std::setvbuf(file->stream, nullptr, _IONBF, 0) == 0 ? aErrNone : aErrMode;
}

aErr aFile_Printf(aFile* file, const char* format, ...)
{
    if (!aVALIDFILE(file) || format == nullptr) {
        return aErrParam;
    }
    if (!sCanWrite(file)) {
        return aErrMode;
    }
    if (!sTurnTo(file, kAccessWrite)) {
        return aErrIO;
    }
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(file->stream, format, arguments);
    va_end(arguments);
    return written < 0 ? aErrIO : aErrNone;
}

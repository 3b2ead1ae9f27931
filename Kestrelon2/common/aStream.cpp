// aStream: the stream record, its push-back ring, reading and writing of blocks, records and C strings, and file streams.
#include "Kestrelon2/common/aStream.h"

#include <cstdlib>
#include <cstring>

#include "Kestrelon2/unix/unix_file.h"
#include "Kestrelon2/unix/unix_time.h"

// Reads of up to this many bytes collect into the stack; the link's input pipe reads byte by
// byte and should not pay for an allocation each time.
static constexpr size_t sSTACK_READ = 64;

// Makes room for one more held byte: the ring is made on the first push and grows by a chunk,
// oldest byte first, whenever it is one byte short of full.
static aErr sPushbackRoom(aStream* stream)
{
    if (stream->pushback == nullptr) {
        stream->pushback = static_cast<uint8_t*>(std::malloc(aSTREAMBUFCHUNK));
        if (stream->pushback == nullptr) {
            return aErrMemory;
        }
        stream->pushbackSize = aSTREAMBUFCHUNK;
        stream->pushbackCount = 0;
        stream->pushbackHead = 0;
        stream->pushbackTail = 0;
        return aErrNone;
    }
    if (stream->pushbackCount + 1 < stream->pushbackSize) {
        return aErrNone;
    }
    const size_t size = stream->pushbackSize + aSTREAMBUFCHUNK;
    auto* grown = static_cast<uint8_t*>(std::malloc(size));
    if (grown == nullptr) {
        return aErrMemory;
    }
    for (size_t i = 0; i < stream->pushbackCount; ++i) {
        grown[i] = stream->pushback[(stream->pushbackHead + i) % stream->pushbackSize];
    }
    std::free(stream->pushback);
    stream->pushback = grown;
    stream->pushbackSize = size;
    stream->pushbackHead = 0;
    stream->pushbackTail = stream->pushbackCount;
    return aErrNone;
}

// Returns bytes a reader took back in front of anything still held, so that they are read
// again first and in their order. When the ring cannot grow, the earlier bytes are lost.
static void sGiveBack(aStream* stream, const uint8_t* bytes, size_t count)
{
    for (size_t i = count; i > 0; --i) {
        if (sPushbackRoom(stream) != aErrNone) {
            return;
        }
        stream->pushbackHead = (stream->pushbackHead + stream->pushbackSize - 1) % stream->pushbackSize;
        stream->pushback[stream->pushbackHead] = bytes[i - 1];
        ++stream->pushbackCount;
    }
}

// One byte from the push-back ring when it holds any, else from the transport.
static aErr sTakeByte(aStream* stream, uint8_t* byte)
{
    if (stream->pushbackCount > 0) {
        *byte = stream->pushback[stream->pushbackHead];
        stream->pushbackHead = (stream->pushbackHead + 1) % stream->pushbackSize;
        --stream->pushbackCount;
        return aErrNone;
    }
    return stream->getProc(byte, stream->procRef);
}

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc del, void* procRef)
{
    auto* stream = static_cast<aStream*>(std::calloc(1, sizeof(aStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    stream->getProc = get;
    stream->putProc = put;
    stream->writeProc = write;
    stream->deleteProc = del;
    stream->procRef = procRef;
    stream->check = aSTREAMCHECK;
    return stream;
}

aErr aStream_SetWaitProc(aStream* stream, aStreamWaitProc wait)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    stream->waitProc = wait;
    return aErrNone;
}

aErr aStream_Wait(aStream* stream, uint32_t msTimeout)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    if (stream->getProc == nullptr) {
        return aErrMode;
    }
    if (stream->pushbackCount > 0) {
        return aErrNone;
    }
    if (stream->waitProc != nullptr) {
        return stream->waitProc(msTimeout, stream->procRef);
    }
    const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
    for (;;) {
        uint8_t byte = 0;
        const aErr result = stream->getProc(&byte, stream->procRef);
        if (result == aErrNone) {
            // Kept for the next read; should the ring be unable to grow, aErrMemory says it is lost.
            return aStreamBufferChar(stream, byte);
        }
        if (result != aErrNotReady || aTime_GetMonotonicMS() >= deadline) {
            return result;
        }
        aTime_MSSleep(1);
    }
}

aErr aStream_Destroy(aStream** stream)
{
    if (stream == nullptr) {
        return aErrParam;
    }
    aStream* doomed = *stream;
    *stream = nullptr;
    if (!aVALIDSTREAM(doomed)) {
        return aErrParam;
    }
    const aErr result = doomed->deleteProc != nullptr ? doomed->deleteProc(doomed->procRef) : aErrNone;
    std::free(doomed->pushback);
    doomed->check = 0;
    std::free(doomed);
    return result;
}

aErr aStreamBufferChar(aStream* stream, uint8_t byte)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    const aErr room = sPushbackRoom(stream);
    if (room != aErrNone) {
        return room;
    }
    stream->pushback[stream->pushbackTail] = byte;
    stream->pushbackTail = (stream->pushbackTail + 1) % stream->pushbackSize;
    ++stream->pushbackCount;
    return aErrNone;
}

aErr aStream_Read(aStream* stream, uint8_t* buffer, size_t count)
{
    if (!aVALIDSTREAM(stream) || buffer == nullptr) {
        return aErrParam;
    }
    if (stream->getProc == nullptr) {
        return aErrMode;
    }
    uint8_t onStack[sSTACK_READ];
    uint8_t* work = onStack;
    if (count > sSTACK_READ) {
        work = static_cast<uint8_t*>(std::malloc(count));
        if (work == nullptr) {
            return aErrResource;
        }
    }
    aErr result = aErrNone;
    size_t got = 0;
    while (got < count && result == aErrNone) {
        result = sTakeByte(stream, &work[got]);
        if (result == aErrNone) {
            ++got;
        }
    }
    if (result == aErrNotReady) {
        // Nothing was ready yet; what was taken so far is read again first by the next call.
        sGiveBack(stream, work, got);
    } else if (result == aErrNone || result == aErrEOF) {
        if (got > 0) {
            std::memcpy(buffer, work, got);
        }
    }
    if (work != onStack) {
        std::free(work);
    }
    return result;
}

aErr aStream_Write(aStream* stream, const uint8_t* data, size_t count)
{
    if (!aVALIDSTREAM(stream) || data == nullptr) {
        return aErrParam;
    }
    if (stream->writeProc == nullptr && stream->putProc == nullptr) {
        return aErrMode;
    }
    if (count == 0) {
        return aErrNone;
    }
    // A stream with write but no put sends even a single byte through write.
    if (stream->writeProc != nullptr && (count > 1 || stream->putProc == nullptr)) {
        return stream->writeProc(data, count, stream->procRef);
    }
    for (size_t i = 0; i < count; ++i) {
        const aErr result = stream->putProc(&data[i], stream->procRef);
        if (result != aErrNone) {
            return result;
        }
    }
    return aErrNone;
}

// How many of the last `count` bytes of `bytes` begin the separator: the longest such run,
// short of a whole separator. Bytes in front of it can belong to no separator that is still
// arriving, so they are data.
static size_t sSeparatorStart(const uint8_t* bytes, size_t count, const uint8_t* separator,
                              size_t separatorLength)
{
    size_t longest = count < separatorLength ? count : separatorLength;
    while (longest > 0 && std::memcmp(bytes + count - longest, separator, longest) != 0) {
        --longest;
    }
    return longest;
}

aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t maximum,
                        const uint8_t* separator, size_t separatorLength)
{
    if (!aVALIDSTREAM(stream) || buffer == nullptr || separator == nullptr || separatorLength == 0 ||
        maximum == 0) {
        return aErrParam;
    }
    // Every byte taken for the record: its data and, behind it, what may still turn out to be
    // the separator.
    auto* taken = static_cast<uint8_t*>(std::malloc(maximum + separatorLength));
    if (taken == nullptr) {
        return aErrResource;
    }
    size_t count = 0;
    size_t record = 0;
    aErr result = aErrNone;
    for (;;) {
        result = aStream_Read(stream, &taken[count], 1);
        if (result == aErrNotReady) {
            // The record is read again from its start next time.
            sGiveBack(stream, taken, count);
            break;
        }
        if (result == aErrEOF) {
            // A separator cut short by the end is data.
            record = count < maximum ? count : maximum;
            sGiveBack(stream, taken + record, count - record);
            if (record > 0) {
                result = aErrNone;
            }
            break;
        }
        if (result != aErrNone) {
            break;
        }
        ++count;
        const size_t matched = sSeparatorStart(taken, count, separator, separatorLength);
        if (matched == separatorLength) {
            record = count - separatorLength;
            break;
        }
        if (count - matched >= maximum) {
            // A broken separator match can turn several bytes into data at once; those past
            // the maximum stay in the stream for the next read.
            record = maximum;
            sGiveBack(stream, taken + record, count - record);
            break;
        }
    }
    if (result == aErrNone || result == aErrEOF) {
        if (record > 0) {
            std::memcpy(buffer, taken, record);
        }
        if (length != nullptr) {
            *length = record;
        }
    }
    std::free(taken);
    return result;
}

aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length,
                         const uint8_t* separator, size_t separatorLength)
{
    if (!aVALIDSTREAM(stream) || data == nullptr || separator == nullptr || separatorLength == 0) {
        return aErrParam;
    }
    const aErr result = aStream_Write(stream, data, length);
    if (result != aErrNone) {
        return result;
    }
    return aStream_Write(stream, separator, separatorLength);
}

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size)
{
    static const uint8_t terminator = 0;
    if (buffer == nullptr || size < 2) {
        return aErrParam;
    }
    size_t length = 0;
    const aErr result =
        aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1, &terminator, 1);
    if (result == aErrNone) {
        buffer[length] = '\0';
    }
    return result;
}

aErr aStream_WriteCString(aStream* stream, const char* text)
{
    if (text == nullptr) {
        return aErrParam;
    }
    return aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), std::strlen(text) + 1);
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* separator)
{
    if (buffer == nullptr || size < 2 || separator == nullptr) {
        return aErrParam;
    }
    size_t length = 0;
    const aErr result = aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1,
                                           reinterpret_cast<const uint8_t*>(separator), std::strlen(separator));
    if (result == aErrNone) {
        buffer[length] = '\0';
    }
    return result;
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* separator)
{
    if (text == nullptr || separator == nullptr) {
        return aErrParam;
    }
    return aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>(text), std::strlen(text),
                               reinterpret_cast<const uint8_t*>(separator), std::strlen(separator) + 1);
}

aErr aStream_Flush(aStream* source, aStream* destination)
{
    if (!aVALIDSTREAM(source) || !aVALIDSTREAM(destination)) {
        return aErrParam;
    }
    if (source->getProc == nullptr || destination->putProc == nullptr) {
        return aErrMode;
    }
    for (;;) {
        uint8_t byte = 0;
        const aErr got = source->getProc(&byte, source->procRef);
        if (got == aErrEOF) {
            return aErrNone;
        }
        if (got != aErrNone) {
            return got;
        }
        const aErr put = destination->putProc(&byte, destination->procRef);
        if (put != aErrNone) {
            return put;
        }
    }
}

static aErr sFileGet(uint8_t* byte, void* procRef)
{
    auto* file = static_cast<aFile*>(procRef);
    if (file == nullptr) {
        return aErrIO;
    }
    size_t count = 0;
    return aFile_Read(file, byte, 1, &count);
}

static aErr sFileWrite(const uint8_t* data, size_t length, void* procRef)
{
    auto* file = static_cast<aFile*>(procRef);
    if (file == nullptr) {
        return aErrIO;
    }
    size_t count = 0;
    const aErr result = aFile_Write(file, data, length, &count);
    // A short write has not sent every byte, which is what success promises.
    if (result == aErrNone && count != length) {
        return aErrIO;
    }
    return result;
}

static aErr sFilePut(const uint8_t* byte, void* procRef)
{
    return sFileWrite(byte, 1, procRef);
}

static aErr sFileDelete(void* procRef)
{
    auto* file = static_cast<aFile*>(procRef);
    if (file == nullptr) {
        return aErrIO;
    }
    return aFile_Close(&file);
}

// Opens the file in the given mode and wraps it in a stream over the given operations.
static aErr sCreateFileStream(const char* path, int mode, aStreamGetProc get, aStreamPutProc put,
                              aStreamWriteProc write, aStream** stream)
{
    if (path == nullptr || stream == nullptr) {
        return aErrResource;
    }
    aFile* file = aFile_Open(path, mode);
    if (file == nullptr) {
        return aErrResource;
    }
    aStream* created = aStream_Create(get, put, write, sFileDelete, file);
    if (created == nullptr) {
        aFile_Close(&file);
        return aErrResource;
    }
    *stream = created;
    return aErrNone;
}

aErr aStream_CreateFileInput(const char* path, aStream** stream)
{
    return sCreateFileStream(path, aFILE_MODE_READ, sFileGet, nullptr, nullptr, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream)
{
    return sCreateFileStream(path, aFILE_MODE_WRITE, nullptr, sFilePut, sFileWrite, stream);
}

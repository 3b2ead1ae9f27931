// aStream: the byte-stream record through which the link engine reaches every transport, with push-back, records, C strings and file streams.
#ifndef KESTRELON2_COMMON_ASTREAM_H
#define KESTRELON2_COMMON_ASTREAM_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// Transport operations; procRef is the transport's own record.
// get: aErrNone with one byte stored, aErrNotReady when no byte is there now, aErrEOF at the end
// of the source, anything else on failure.
typedef aErr (*aStreamGetProc)(uint8_t* byte, void* procRef);
// put: aErrNone once the byte was sent.
typedef aErr (*aStreamPutProc)(const uint8_t* byte, void* procRef);
// write: aErrNone once every byte was sent.
typedef aErr (*aStreamWriteProc)(const uint8_t* data, size_t length, void* procRef);
// delete: releases the transport record and everything it owns.
typedef aErr (*aStreamDeleteProc)(void* procRef);
// wait (optional): blocks until a get may find a byte, at most msTimeout milliseconds.
// aErrNone when one may be there, aErrNotReady when none came in time, anything else on failure.
// Transports whose get returns at once when idle offer it so readers need not spin.
typedef aErr (*aStreamWaitProc)(uint32_t msTimeout, void* procRef);

inline constexpr uint16_t aSTREAMCHECK = 0x4321;

// The push-back buffer starts at, and grows by, this many bytes.
inline constexpr size_t aSTREAMBUFCHUNK = 512;

typedef struct aStream {
    aStreamGetProc getProc;
    aStreamPutProc putProc;
    aStreamWriteProc writeProc;
    aStreamDeleteProc deleteProc;
    void* procRef;
    uint8_t* pushback; // ring of bytes given back by a reader; made on the first push
    size_t pushbackCount;
    size_t pushbackSize;
    size_t pushbackHead; // oldest held byte
    size_t pushbackTail; // where the next pushed byte goes
    uint16_t check;
    aStreamWaitProc waitProc;
} aStream;

inline bool aVALIDSTREAM(const aStream* stream)
{
    return stream != nullptr && stream->check == aSTREAMCHECK;
}

// A new stream over the given operations (any may be null); null when memory is short.
aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc del, void* procRef);

// Gives the stream a wait operation (null removes it). aErrParam for an invalid stream.
aErr aStream_SetWaitProc(aStream* stream, aStreamWaitProc wait);

// Blocks until a read may find a byte, at most msTimeout milliseconds: aErrNone at once when
// pushed-back bytes wait; else the wait operation's result. A stream without one is asked with
// get every millisecond (a byte found is pushed back). aErrNotReady when nothing came in time,
// aErrParam for an invalid stream, aErrMode without get; other get failures are returned.
aErr aStream_Wait(aStream* stream, uint32_t msTimeout);

// Calls delete (when present) and returns its result, frees the record and clears the caller's
// pointer in every case; aErrParam for an invalid stream.
aErr aStream_Destroy(aStream** stream);

// Gives one byte back: the next read takes it before any new byte. aErrParam for an invalid
// stream, aErrMemory when the buffer cannot be made or grown.
aErr aStreamBufferChar(aStream* stream, uint8_t byte);

// Reads exactly count bytes, all or nothing. aErrNotReady: nothing delivered, and the bytes
// already taken are pushed back for the next read; aErrEOF: the bytes before the end are in the
// buffer; any other failure drops what was taken. aErrParam, aErrMode (no get), aErrResource.
aErr aStream_Read(aStream* stream, uint8_t* buffer, size_t count);

// Sends count bytes: one write call for more than one byte when the stream has write, else
// byte by byte through put, stopping at the first failure. A stream without put sends a single
// byte through write too; nothing is sent for 0 bytes. aErrParam, aErrMode (neither).
aErr aStream_Write(aStream* stream, const uint8_t* data, size_t count);

// Reads a record ended by the separator (not stored) or by maximum bytes; stores its length in
// *length when that is non-null. aErrEOF with no byte read; aErrNotReady pushes the record's
// bytes back so the next call reads it again from its start. A partial separator match that
// breaks is data, and a separator starting inside it is still found (ab ends aab after its first
// byte); bytes taken beyond a full record stay in the stream.
aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t maximum,
                        const uint8_t* separator, size_t separatorLength);

// Writes the data, then the separator.
aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length,
                         const uint8_t* separator, size_t separatorLength);

// Reads a text ended by a zero byte, at most size - 1 bytes, and terminates it.
aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size);

// Writes the text and one zero byte.
aErr aStream_WriteCString(aStream* stream, const char* text);

// Reads a text ended by the separator text, at most size - 1 bytes, and terminates it.
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* separator);

// Writes the text, then the separator text with its terminating zero byte.
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* separator);

// Copies bytes from the source's get to the destination's put until the source ends
// (aErrNone); the first other failure of either side is returned.
aErr aStream_Flush(aStream* source, aStream* destination);

// A stream reading the file (get only). aErrResource when the path or out pointer is null, the
// file cannot be opened or memory is short.
aErr aStream_CreateFileInput(const char* path, aStream** stream);

// A stream writing the file, truncated first (put and write). Errors as for input.
aErr aStream_CreateFileOutput(const char* path, aStream** stream);

#endif

// aError: the library-wide result code and its name and description texts.
#ifndef KESTRELON2_COMMON_AERROR_H
#define KESTRELON2_COMMON_AERROR_H

#include <cstdint>

// Every library operation returns one of these; 0 is success. The values travel to and from
// modules (error replies carry them), so they never change.
typedef enum aErr : uint32_t {
    aErrNone = 0,
    aErrMemory = 1,
    aErrParam = 2,
    aErrNotFound = 3,
    aErrFileNameLength = 4,
    aErrBusy = 5,
    aErrIO = 6,
    aErrMode = 7,
    aErrWrite = 8,
    aErrRead = 9,
    aErrEOF = 10,
    aErrNotReady = 11,
    aErrPermission = 12,
    aErrRange = 13,
    aErrSize = 14,
    aErrOverrun = 15,
    aErrParse = 16,
    aErrConfiguration = 17,
    aErrTimeout = 18,
    aErrInitialization = 19,
    aErrVersion = 20,
    aErrUnimplemented = 21,
    aErrDuplicate = 22,
    aErrCancel = 23,
    aErrPacket = 24,
    aErrConnection = 25,
    aErrIndexRange = 26,
    aErrShortCommand = 27,
    aErrInvalidEntity = 28,
    aErrInvalidOption = 29,
    aErrResource = 30,
    aErrMedia = 31,
    aErrAsyncReturn = 32,
    aErrStreamStale = 33,
    aErrUnknown = 34,
} aErr;

// The enumerator name of a code ("aErrTimeout"); any code above 34 reads "aErrUnknown".
const char* aError_GetErrorText(uint32_t code);

// A short English description of a code; any code above 34 reads "Unknown error".
const char* aError_GetErrorDescription(uint32_t code);

#endif

// unix_mutex: named, non-recursive mutexes of the library over POSIX mutexes.
#ifndef KESTRELON2_UNIX_UNIX_MUTEX_H
#define KESTRELON2_UNIX_UNIX_MUTEX_H

#include <cstddef>

#include "Kestrelon2/common/aError.h"

// A mutex with its name; only this module sees inside it.
struct aMutex;

// Longest mutex name, in characters.
inline constexpr size_t aMUTEX_MAX_NAME = 255;

// A new unlocked mutex (a null name gives an empty one), or null when the name is longer than
// aMUTEX_MAX_NAME, memory is short or the OS refuses the mutex.
aMutex* aMutex_Create(const char* name);

// The name given at creation; null for a null mutex.
const char* aMutex_Identifier(const aMutex* mutex);

// Destroys and frees the mutex and clears the caller's pointer. A mutex that is still locked
// gives aErrBusy and is left alive and in the caller's hands, so that its owner can still unlock
// it and the destroy can be repeated. aErrResource, aErrParam or aErrUnknown for other failures.
aErr aMutex_Destroy(aMutex** mutex);

// Waits for the mutex. aErrDuplicate when the calling thread holds it already.
aErr aMutex_Lock(aMutex* mutex);

// Takes the mutex only if it is free: aErrBusy when it is held, by any thread.
aErr aMutex_TryLock(aMutex* mutex);

// Releases the mutex. aErrPermission when the calling thread does not hold it.
aErr aMutex_Unlock(aMutex* mutex);

#endif

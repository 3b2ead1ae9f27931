// unix_mutex: named POSIX mutexes, with OS errors mapped to aErr codes.
#include "Kestrelon2/unix/unix_mutex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

struct aMutex {
    pthread_mutex_t mutex;
    char name[aMUTEX_MAX_NAME + 1];
};

aMutex* aMutex_Create(const char* name)
{
    const char* text = name != nullptr ? name : "";
    const size_t length = strnlen(text, aMUTEX_MAX_NAME + 1);
    if (length > aMUTEX_MAX_NAME) {
        return nullptr;
    }
    auto* mutex = static_cast<aMutex*>(std::malloc(sizeof(aMutex)));
    if (mutex == nullptr) {
        return nullptr;
    }
    // Still non-recursive, but error-checking: a default mutex hangs its owner for good when it
    // locks twice and makes an unlock by another thread undefined. This kind reports both
    // (EDEADLK, EPERM), so a locking fault surfaces as aErrDuplicate or aErrPermission instead.
    pthread_mutexattr_t attributes;
    bool made = pthread_mutexattr_init(&attributes) == 0;
    if (made) {
        made = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0
               && pthread_mutex_init(&mutex->mutex, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
    }
    if (!made) {
        std::free(mutex);
        return nullptr;
    }
    std::memcpy(mutex->name, text, length);
    mutex->name[length] = '\0';
    return mutex;
}

const char* aMutex_Identifier(const aMutex* mutex)
{
    return mutex != nullptr ? mutex->name : nullptr;
}

aErr aMutex_Destroy(aMutex** mutex)
{
    if (mutex == nullptr || *mutex == nullptr) {
        return aErrParam;
    }
    const int result = pthread_mutex_destroy(&(*mutex)->mutex);
    if (result == EBUSY) {
        // Freeing it now would leave its owner to unlock freed memory.
        return aErrBusy;
    }
    std::free(*mutex);
    *mutex = nullptr;
    switch (result) {
    case 0:
        return aErrNone;
    case EAGAIN:
    case ENOMEM:
        return aErrResource;
    case EINVAL:
        return aErrParam;
    default:
        return aErrUnknown;
    }
}

aErr aMutex_Lock(aMutex* mutex)
{
    if (mutex == nullptr) {
        return aErrParam;
    }
    switch (pthread_mutex_lock(&mutex->mutex)) {
    case 0:
        return aErrNone;
    case EINVAL:
        return aErrParam;
    case EDEADLK:
        return aErrDuplicate;
    default:
        return aErrUnknown;
    }
}

aErr aMutex_TryLock(aMutex* mutex)
{
    if (mutex == nullptr) {
        return aErrParam;
    }
    switch (pthread_mutex_trylock(&mutex->mutex)) {
    case 0:
        return aErrNone;
    case EBUSY:
        return aErrBusy;
    case EINVAL:
        return aErrParam;
    default:
        return aErrUnknown;
    }
}

aErr aMutex_Unlock(aMutex* mutex)
{
    if (mutex == nullptr) {
        return aErrParam;
    }
    switch (pthread_mutex_unlock(&mutex->mutex)) {
    case 0:
        return aErrNone;
    case EPERM:
        return aErrPermission;
    case EINVAL:
        return aErrParam;
    default:
        return aErrUnknown;
    }
}

// unix_thread: POSIX threads behind the library's thread handles.
#include "Kestrelon2/unix/unix_thread.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <pthread.h>

struct aThread {
    pthread_t id;
};

aThread* aThread_Create(aThreadProc procedure, void* argument)
{
    if (procedure == nullptr) {
        return nullptr;
    }
    auto* thread = static_cast<aThread*>(std::malloc(sizeof(aThread)));
    if (thread == nullptr) {
        return nullptr;
    }
    if (pthread_create(&thread->id, nullptr, procedure, argument) != 0) {
        std::free(thread);
        return nullptr;
    }
    return thread;
}

int aThread_Destroy(aThread** thread)
{
    if (thread == nullptr || *thread == nullptr) {
        return EINVAL;
    }
    const int result = pthread_join((*thread)->id, nullptr);
    std::free(*thread);
    *thread = nullptr;
    return result;
}

void aThread_Yield()
{
    // A short sleep rather than sched_yield: it lets threads of lower priority run too. Cut
    // short by a signal it has still yielded, so the rest is not slept.
    const timespec pause = {0, 5000};
    nanosleep(&pause, nullptr);
}

bool aThread_IsCurrent(const aThread* thread)
{
    return thread != nullptr && pthread_equal(thread->id, pthread_self()) != 0;
}

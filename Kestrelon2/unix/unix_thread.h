// unix_thread: the library's threads over POSIX threads.
#ifndef KESTRELON2_UNIX_UNIX_THREAD_H
#define KESTRELON2_UNIX_UNIX_THREAD_H

// What a thread runs; its result is not kept.
typedef void* (*aThreadProc)(void* argument);

// A running or finished thread until it is joined; only this module sees inside it.
struct aThread;

// Starts procedure(argument) on a new thread with default attributes; null when the procedure
// is null or memory or the thread cannot be had.
aThread* aThread_Create(aThreadProc procedure, void* argument);

// Waits for the thread to end, frees the handle and clears the caller's pointer. Returns the
// OS join result: 0 on success, an error number otherwise (EINVAL for a null handle).
int aThread_Destroy(aThread** thread);

// Gives the processor away for a few microseconds.
void aThread_Yield();

// True when the calling thread is the one the handle runs; false for a null handle.
bool aThread_IsCurrent(const aThread* thread);

#endif

// aLogger: a background thread that calls a logging procedure over and over to write a log file.
#ifndef KESTRELON2_COMMON_ALOGGER_H
#define KESTRELON2_COMMON_ALOGGER_H

#include <cstdint>

#include "Kestrelon2/common/aError.h"
#include "Kestrelon2/unix/unix_file.h"

// Writes what there is to log (or waits briefly when there is nothing) and returns; called in
// a loop on the logger's thread with the log file and the logger's reference.
typedef void (*aLoggerProc)(aFile* file, int32_t logRef);

// Only this module sees inside it.
struct aLogger;

// A logger (not running) over path opened for appending, unbuffered; null when memory is short,
// the procedure is null or the file cannot be opened.
aLogger* aLogger_Create(int32_t logRef, aLoggerProc logProc, const char* path);

// Starts the thread; aErrNone at once when running. aErrParam for an invalid logger,
// aErrResource when the thread cannot be started, aErrBusy while a disable on another thread
// still waits for the previous thread to end.
aErr aLogger_Enable(aLogger* logger);

// Stops the thread and waits for it; aErrNone when not running or when called from the logger's
// own thread (which keeps running then). aErrParam for an invalid logger, aErrUnknown when the
// thread cannot be joined.
aErr aLogger_Disable(aLogger* logger);

// Stops the logger, closes its file, frees it and clears the caller's pointer; returns the
// stop's result (the logger, its file still open, is kept when stopping failed). aErrBusy, with
// nothing changed, when called from the logger's own thread. aErrNone without effect for an
// invalid logger.
aErr aLogger_Destroy(aLogger** logger);

#endif

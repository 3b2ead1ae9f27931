// aLogger: the logger record and the thread that calls its procedure until the logger is disabled.
#include "Kestrelon2/common/aLogger.h"

#include <atomic>
#include <new>

#include "Kestrelon2/unix/unix_mutex.h"
#include "Kestrelon2/unix/unix_thread.h"

static constexpr uint16_t sLOGGER_CHECK = 0xDEED;

struct aLogger {
    int32_t logRef;
    aLoggerProc logProc;
    aFile* logFile;
    aThread* logThread; // the running thread; null while idle and while it is being stopped
    std::atomic<bool> logRunning; // read by the thread between calls of the procedure
    uint16_t check;
    // Guards logThread and logStopping. The thread's own procedure may call enable or disable,
    // so it is never held while the thread is joined.
    aMutex* logLock;
    bool logStopping; // a disable is waiting for the thread to end
};

static bool aVALIDLOGGER(const aLogger* logger)
{
    return logger != nullptr && logger->check == sLOGGER_CHECK;
}

static void* sLoggerRun(void* argument)
{
    auto* logger = static_cast<aLogger*>(argument);
    while (logger->logRunning.load()) {
        logger->logProc(logger->logFile, logger->logRef);
    }
    return nullptr;
}

// True when the caller is the logger's own running thread.
static bool sOnLoggerThread(aLogger* logger)
{
    if (aMutex_Lock(logger->logLock) != aErrNone) {
        return false;
    }
    const bool own = logger->logRunning.load() && aThread_IsCurrent(logger->logThread);
    aMutex_Unlock(logger->logLock);
    return own;
}

aLogger* aLogger_Create(int32_t logRef, aLoggerProc logProc, const char* path)
{
    if (logProc == nullptr) {
        return nullptr;
    }
    aFile* file = aFile_Open(path, aFILE_MODE_APPEND);
    if (file == nullptr) {
        return nullptr;
    }
    aMutex* lock = nullptr;
    auto* logger = new (std::nothrow) aLogger{};
    if (logger == nullptr || aFile_SetUnbuffered(file) != aErrNone ||
        (lock = aMutex_Create("aLogger")) == nullptr) {
        delete logger;
        aFile_Close(&file);
        return nullptr;
    }
    logger->logRef = logRef;
    logger->logProc = logProc;
    logger->logFile = file;
    logger->logLock = lock;
    logger->check = sLOGGER_CHECK;
    return logger;
}

aErr aLogger_Enable(aLogger* logger)
{
    if (!aVALIDLOGGER(logger)) {
        return aErrParam;
    }
    const aErr locked = aMutex_Lock(logger->logLock);
    if (locked != aErrNone) {
        return locked;
    }
    aErr result = aErrNone;
    if (logger->logStopping) {
        // Restarting now would keep the old thread alive under the disable that waits for it.
        result = aErrBusy;
    } else if (!logger->logRunning.load()) {
        logger->logRunning = true;
        // The lock is held until the handle is stored, so a procedure that disables its logger
        // at once still finds out that it runs on the logger's thread.
        logger->logThread = aThread_Create(sLoggerRun, logger);
        if (logger->logThread == nullptr) {
            logger->logRunning = false;
            result = aErrResource;
        }
    }
    aMutex_Unlock(logger->logLock);
    return result;
}

aErr aLogger_Disable(aLogger* logger)
{
    if (!aVALIDLOGGER(logger)) {
        return aErrParam;
    }
    const aErr locked = aMutex_Lock(logger->logLock);
    if (locked != aErrNone) {
        return locked;
    }
    if (!logger->logRunning.load() || aThread_IsCurrent(logger->logThread)) {
        aMutex_Unlock(logger->logLock);
        return aErrNone;
    }
    logger->logRunning = false;
    logger->logStopping = true;
    aThread* thread = logger->logThread;
    logger->logThread = nullptr;
    aMutex_Unlock(logger->logLock);

    const int joined = aThread_Destroy(&thread);

    aMutex_Lock(logger->logLock);
    logger->logStopping = false;
    aMutex_Unlock(logger->logLock);
    return joined == 0 ? aErrNone : aErrUnknown;
}

aErr aLogger_Destroy(aLogger** logger)
{
    if (logger == nullptr || !aVALIDLOGGER(*logger)) {
        return aErrNone;
    }
    aLogger* doomed = *logger;
    // Its own thread would go on using the file and the record after they are gone.
    if (sOnLoggerThread(doomed)) {
        return aErrBusy;
    }
    const aErr stopped = aLogger_Disable(doomed);
    // A thread that could not be joined may still be writing: its file and record stay.
    if (stopped != aErrNone) {
        return stopped;
    }
    aFile_Close(&doomed->logFile);
    aMutex_Destroy(&doomed->logLock);
    doomed->check = 0;
    delete doomed;
    *logger = nullptr;
    return aErrNone;
}

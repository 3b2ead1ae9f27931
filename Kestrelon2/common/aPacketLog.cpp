// aPacketLog: the traffic ring; entries never straddle its use, old ones give way to new ones.
#include "Kestrelon2/common/aPacketLog.h"

#include <cstdlib>

static size_t sUsed(const aPacketLog* log)
{
    return (log->head + log->size - log->tail) % log->size;
}

static void sDropOldest(aPacketLog* log)
{
    const size_t length = log->buffer[(log->tail + 1) % log->size];
    log->tail = (log->tail + 2 + length) % log->size;
}

static void sPutByte(aPacketLog* log, uint8_t byte)
{
    log->buffer[log->head] = byte;
    log->head = (log->head + 1) % log->size;
}

aPacketLog* aPacketLog_Create(size_t size)
{
    if (size == 0) {
        return nullptr;
    }
    auto* log = static_cast<aPacketLog*>(std::calloc(1, sizeof(aPacketLog)));
    if (log == nullptr) {
        return nullptr;
    }
    log->buffer = static_cast<uint8_t*>(std::malloc(size));
    if (log->buffer == nullptr) {
        std::free(log);
        return nullptr;
    }
    log->size = size;
    return log;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t type, uint8_t length, const uint8_t* data)
{
    if (log == nullptr || (data == nullptr && length > 0)) {
        return aErrParam;
    }
    const size_t needed = static_cast<size_t>(length) + 2;
    while (needed < log->size && needed >= log->size - sUsed(log)) {
        sDropOldest(log);
    }
    if (needed >= log->size - sUsed(log)) {
        return aErrOverrun;
    }
    sPutByte(log, type);
    sPutByte(log, length);
    for (size_t i = 0; i < length; i++) {
        sPutByte(log, data[i]);
    }
    return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, size_t* length, uint8_t* buffer)
{
    if (log == nullptr || type == nullptr || length == nullptr || (buffer == nullptr && *length > 0)) {
        return aErrParam;
    }
    if (log->head == log->tail) {
        return aErrNotFound;
    }
    const size_t capacity = *length;
    const size_t entryLength = log->buffer[(log->tail + 1) % log->size];
    *type = log->buffer[log->tail];
    *length = entryLength;
    if (capacity < entryLength) {
        return aErrOverrun;
    }
    for (size_t i = 0; i < entryLength; i++) {
        buffer[i] = log->buffer[(log->tail + 2 + i) % log->size];
    }
    log->tail = (log->tail + 2 + entryLength) % log->size;
    return aErrNone;
}

aErr aPacketLog_Destroy(aPacketLog** log)
{
    if (log == nullptr || *log == nullptr) {
        return aErrNone;
    }
    std::free((*log)->buffer);
    std::free(*log);
    *log = nullptr;
    return aErrNone;
}

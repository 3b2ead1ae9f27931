// aPacketLog: a byte ring of traffic entries (type, length, data) that a link keeps for debugging.
#ifndef KESTRELON2_COMMON_APACKETLOG_H
#define KESTRELON2_COMMON_APACKETLOG_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// Entry types the link itself writes; other values are free for its users.
inline constexpr uint8_t aPACKETLOG_SENT = 1;     // packet sent to the device
inline constexpr uint8_t aPACKETLOG_RECEIVED = 2; // packet received from the device

typedef struct aPacketLog {
    uint8_t enabled;
    uint8_t* buffer;
    size_t size; // capacity in bytes; one byte always stays free
    size_t tail; // oldest entry
    size_t head; // where the next entry goes
} aPacketLog;

// An empty log of size bytes (at least 1); null when memory is short or size is 0.
aPacketLog* aPacketLog_Create(size_t size);

// Appends one entry of type, length and data, dropping the oldest entries to make room.
// aErrOverrun when the entry can never fit (length + 2 not below the capacity), aErrParam for a
// null log, or null data with a non-zero length.
aErr aPacketLog_Put(aPacketLog* log, uint8_t type, uint8_t length, const uint8_t* data);

// Takes the oldest entry: its type into *type and its length into *length, whose value on entry
// is the buffer's capacity. aErrNotFound when the log is empty; aErrOverrun (entry kept, type
// and length reported) when the buffer is too small; aErrParam for null arguments.
aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, size_t* length, uint8_t* buffer);

// Frees the log and clears the caller's pointer; aErrNone also for a null log.
aErr aPacketLog_Destroy(aPacketLog** log);

#endif

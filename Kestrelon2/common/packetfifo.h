// packetfifo: thread-safe packet queues named by 64-bit handles, with timed and filtered reads.
#ifndef KESTRELON2_COMMON_PACKETFIFO_H
#define KESTRELON2_COMMON_PACKETFIFO_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"
#include "Kestrelon2/common/aPacket.h"

// Names a queue; 0 names none.
typedef uint64_t aPacketFifoHandle;

// Selects a packet when it returns non-zero. Runs with the queue locked: it must be quick and
// must not call any queue or link operation.
typedef int (*aPacketFilter)(const aPacket* packet, void* ref);

// Most packets a queue holds; the put that would make it hold one more empties it.
inline constexpr size_t aPACKETFIFO_CAPACITY = 1000;

// A new empty queue; 0 if it could not be made.
aPacketFifoHandle aPacketFifo_Create();

// Removes the queue, wakes its waiters (they return null) and clears the caller's handle, also
// when it fails. aErrParam for a null pointer, aErrNotFound for an unknown handle, aErrUnknown
// on failure.
aErr aPacketFifo_Destroy(aPacketFifoHandle* handle);

// Packets queued; 0 for an unknown handle.
size_t aPacketFifo_GetLength(aPacketFifoHandle handle);

// Queues a copy of the packet. aErrParam for an unknown handle, an invalid packet or a failed
// copy; aErrResource on an internal failure.
aErr aPacketFifo_Put(aPacketFifoHandle handle, const aPacket* packet);

// The oldest packet, removed (the caller destroys it); null when there is none. Never blocks.
aPacket* aPacketFifo_Get(aPacketFifoHandle handle);

// As Get, waiting up to msTimeout for a packet; null on time-out or when the queue goes away.
aPacket* aPacketFifo_Await(aPacketFifoHandle handle, uint32_t msTimeout);

// The oldest packet the filter selects, removed; null when none is or the filter is null.
// Never blocks.
aPacket* aPacketFifo_GetFirst(aPacketFifoHandle handle, aPacketFilter filter, void* ref);

// As GetFirst, waiting up to msTimeout; each packet is offered to the filter once per call.
aPacket* aPacketFifo_AwaitFirst(aPacketFifoHandle handle, aPacketFilter filter, void* ref,
                                uint32_t msTimeout);

// Removes and destroys every packet the filter selects, keeping the others in order; returns
// how many went. 0 for an unknown handle or a null filter.
size_t aPacketFifo_DrainPackets(aPacketFifoHandle handle, aPacketFilter filter, void* ref);

#endif

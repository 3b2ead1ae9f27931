// aLinkManagerInternal: the link record and the link table's lookup, shared by the link table and the link pipes.
#ifndef KESTRELON2_COMMON_ALINKMANAGERINTERNAL_H
#define KESTRELON2_COMMON_ALINKMANAGERINTERNAL_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Kestrelon2/common/aLink.h"
#include "Kestrelon2/common/aPacketLog.h"
#include "Kestrelon2/unix/unix_mutex.h"
#include "Kestrelon2/unix/unix_thread.h"

// Where the sync machine stands; 0 when not syncing.
typedef enum aSyncState : int32_t {
    kSyncStateSynced = 0,
    kSyncStateStart = 1, // any byte: send a new burst
    kSyncStateByte1 = 2, // a module address (non-zero, even)
    kSyncStateByte2 = 3, // 0, the length of an empty packet
    kSyncStateByte3 = 4, // the same address again
    kSyncStateByte4 = 5, // 0
} aSyncState;

// One link. The input pipe is the only reader of the stream and the only user of assembly and
// the sync fields; the output pipe is the only writer to the stream. Flags both pipes and callers
// touch are atomic; status changes are announced on statusChanged so that waiters need not poll.
struct aLinkRecord {
    aLinkId id = 0;
    std::atomic<bool> running{false};
    std::atomic<int32_t> status{kLinkStopped};
    std::atomic<aPacketFifoHandle> inputFifo{0};
    aPacket* assembly = nullptr;
    std::atomic<aPacketFifoHandle> outputFifo{0};
    aThread* inThread = nullptr;
    aThread* outThread = nullptr;
    aThreadProc inProc = nullptr;
    aThreadProc outProc = nullptr;
    std::atomic<bool> inStarted{false};
    std::atomic<bool> outStarted{false};
    aStream* stream = nullptr;
    aSyncState syncState = kSyncStateSynced;
    uint8_t syncAddress = 0;
    // Published only after logSema exists, so a pipe that sees the log can lock it.
    std::atomic<aPacketLog*> packetLog{nullptr};
    int32_t packetLogSize = 0;
    aMutex* logSema = nullptr;
    aPacketFilter userFilter = nullptr;
    void* userFilterRef = nullptr;
    aMutex* userFilterSema = nullptr;
    std::atomic<bool> pooled{false};

    std::mutex statusGuard;
    std::condition_variable statusChanged;
};

// The record of the link with that id, shared so that a concurrent destroy cannot free it under
// the caller; null for an unknown id.
std::shared_ptr<aLinkRecord> _aLink_GetRecord(aLinkId id);

// Sets the record's status and wakes everyone waiting for a change.
void _aLink_SetStatus(aLinkRecord& link, aLinkStatus status);

// Stops the link's pipes: route-off is queued first while the link is still in the table, the
// pipes are joined, the status becomes kLinkStopped. aErrParam for a null record, aErrUnknown
// when a pipe cannot be joined, else the result of queuing route-off.
aErr aLink_Stop(aLinkRecord* link);

// Releases everything the record holds (queues, assembly, packet log, its mutexes, and the
// stream), leaving it empty; the pipes must be stopped. Returns the result of destroying the
// output queue (aErrNotFound when there was none).
aErr _aLink_ReleaseRecord(aLinkRecord& link);

#endif

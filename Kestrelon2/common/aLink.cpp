// aLink: link specifiers, the link record's two pipe threads, sync, heartbeat, pooled output, the packet log and the packet operations of a link.
#include "Kestrelon2/common/aLink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Kestrelon2/common/aDebug.h"
#include "Kestrelon2/common/aLinkManagerInternal.h"
#include "Kestrelon2/unix/unix_time.h"

// How long the input pipe blocks for a byte before it counts as a read time-out; it also bounds
// how late a stopping pipe notices.
static constexpr uint32_t kInPipeWaitMS = 100;
// How long the output pipe waits for a packet at a time; a destroy queues nothing to wake it, so
// this bounds how long a destroy waits for the pipe to notice.
static constexpr uint32_t kOutPipeWaitMS = 100;
static constexpr uint32_t kIOErrorPauseMS = 100;
static constexpr uint32_t kStartWaitMS = 2000;
static constexpr uint32_t kSyncWaitMS = 2000;
static constexpr uint32_t kSyncSettleMS = 100;
static constexpr int kSyncBurstPackets = 6;
static constexpr size_t kPoolBytes = 4096;

// ---- link specifiers ----

linkSpec* aLinkSpec_Create(linkType type)
{
    auto* spec = static_cast<linkSpec*>(std::calloc(1, sizeof(linkSpec)));
    if (spec != nullptr) {
        spec->type = type;
    }
    return spec;
}

linkSpec* aLinkSpec_Copy(linkSpec spec)
{
    auto* copy = static_cast<linkSpec*>(std::malloc(sizeof(linkSpec)));
    if (copy != nullptr) {
        std::memcpy(copy, &spec, sizeof(linkSpec));
    }
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec)
{
    if (spec == nullptr || *spec == nullptr) {
        return aErrParam;
    }
    std::free(*spec);
    *spec = nullptr;
    return aErrNone;
}

// ---- record state ----

void _aLink_SetStatus(aLinkRecord& link, aLinkStatus status)
{
    {
        std::lock_guard<std::mutex> lock(link.statusGuard);
        link.status.store(status);
    }
    link.statusChanged.notify_all();
}

// Waits, at most ms, until the predicate over the record holds; true when it did.
template <typename Predicate>
static bool sAwaitState(aLinkRecord& link, uint32_t ms, Predicate holds)
{
    std::unique_lock<std::mutex> lock(link.statusGuard);
    return link.statusChanged.wait_for(lock, std::chrono::milliseconds(ms), [&] { return holds(link); });
}

static void sMarkStarted(aLinkRecord& link, std::atomic<bool>& flag)
{
    {
        std::lock_guard<std::mutex> lock(link.statusGuard);
        flag.store(true);
    }
    link.statusChanged.notify_all();
}

static aErr sQueuePacket(aPacketFifoHandle fifo, uint8_t address, uint8_t length, const uint8_t* data)
{
    static const uint8_t kNoData = 0;
    aPacket* packet = aPacket_CreateWithData(address, length, data != nullptr ? data : &kNoData);
    if (packet == nullptr) {
        return aErrMemory;
    }
    const aErr result = aPacketFifo_Put(fifo, packet);
    aPacket_Destroy(&packet);
    return result;
}

static void sLogPacket(aLinkRecord& link, uint8_t type, const aPacket* packet)
{
    aPacketLog* log = link.packetLog.load(std::memory_order_acquire);
    if (log == nullptr) {
        return;
    }
    uint8_t entry[aPACKET_MAX_BYTES];
    entry[0] = packet->address;
    entry[1] = packet->dataSize;
    std::memcpy(entry + 2, packet->data, packet->dataSize);
    aMutex_Lock(link.logSema);
    aPacketLog_Put(log, type, static_cast<uint8_t>(packet->dataSize + 2), entry);
    aMutex_Unlock(link.logSema);
}

// ---- sync ----

static void sStartSync(aLinkRecord& link)
{
    aDebug_Printf(aDEBUG_LINK, "syncStart\n");
    _aLink_SetStatus(link, kLinkSyncing);
    link.syncState = kSyncStateStart;
    aPacket_Reset(link.assembly);
    aErr queued = aErrNone;
    for (int i = 0; i < kSyncBurstPackets; i++) {
        queued = sQueuePacket(link.outputFifo, cmdSYNC, 0, nullptr);
    }
    if (queued == aErrNone) {
        link.syncState = kSyncStateByte1;
    }
}

static const char* sSyncStateName(aSyncState state)
{
    switch (state) {
    case kSyncStateSynced: return "synced";
    case kSyncStateStart: return "kSyncStateStart";
    case kSyncStateByte1: return "kSyncStateByte1";
    case kSyncStateByte2: return "kSyncStateByte2";
    case kSyncStateByte3: return "kSyncStateByte3";
    case kSyncStateByte4: return "kSyncStateByte4";
    }
    return "unknown";
}

// The module answers each AD 00 with an empty packet from its own address, so a stream in step
// reads a, 0, a, 0: two identical empty packets in a row prove where packets begin.
static void sSyncByte(aLinkRecord& link, uint8_t byte)
{
    aDebug_Printf(aDEBUG_LINK, "sByte %d\n", byte);
    aDebug_Printf(aDEBUG_LINK, "%s\n", sSyncStateName(link.syncState));
    switch (link.syncState) {
    case kSyncStateStart:
        sStartSync(link);
        break;
    case kSyncStateByte1:
        if (byte != 0 && (byte & 1) == 0) {
            link.syncAddress = byte;
            link.syncState = kSyncStateByte2;
        } else {
            sStartSync(link);
        }
        break;
    case kSyncStateByte2:
        link.syncState = byte == 0 ? kSyncStateByte3 : kSyncStateStart;
        break;
    case kSyncStateByte3:
        link.syncState = byte == link.syncAddress ? kSyncStateByte4 : kSyncStateStart;
        break;
    case kSyncStateByte4:
        if (byte == 0) {
            link.syncState = kSyncStateSynced;
            aDebug_Printf(aDEBUG_LINK, "synced\n");
            _aLink_SetStatus(link, kLinkRunning);
        } else {
            link.syncState = kSyncStateStart;
        }
        break;
    default:
        aDebug_Printf(aDEBUG_LINK, "sync default\n");
        sStartSync(link);
        break;
    }
}

// ---- input pipe ----

static bool sIsHeartbeat(const aPacket* packet)
{
    return packet->dataSize == 2 && packet->data[0] == 0;
}

static aErr sHandlePacket(aLinkRecord& link)
{
    aPacket* packet = link.assembly;
    if (!aPacket_IsComplete(packet)) {
        return aErrNone;
    }
    sLogPacket(link, aPACKETLOG_RECEIVED, packet);

    aErr result = aErrNone;
    bool consumed = false;
    aMutex_Lock(link.userFilterSema);
    if (link.userFilter != nullptr) {
        consumed = link.userFilter(packet, link.userFilterRef) == 1;
    }
    aMutex_Unlock(link.userFilterSema);

    if (!consumed && sIsHeartbeat(packet)) {
        // The device checks the host is alive; the link answers for every user of it.
        aDebug_Printf(aDEBUG_TRAFFIC, " sHandleHBBackChannel() ==> received HB packet [data size = %d][%d,%d]\n",
                      packet->dataSize, packet->data[0], packet->data[1]);
        if (packet->data[1] == 0 || packet->data[1] == 1) {
            aDebug_Printf(aDEBUG_TRAFFIC, " sHandleHBBackChannel() %s\n",
                          packet->data[1] == 0 ? "sending HB UP" : "sending HB DOWN");
        }
        const uint8_t reply[2] = {0, static_cast<uint8_t>(packet->data[1] + 2)};
        sQueuePacket(link.outputFifo, packet->address, 2, reply);
    } else if (!consumed) {
        aDebug_Printf(aDEBUG_TRAFFIC, " sHandlePacket(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", link.id,
                      packet->address, packet->dataSize, packet->data[0], packet->data[1], packet->data[2]);
        result = aPacketFifo_Put(link.inputFifo, packet);
    }
    aPacket_Reset(packet);
    return result;
}

static void sInPipeByte(aLinkRecord& link, uint8_t byte)
{
    if (link.status.load() == kLinkSyncing) {
        sSyncByte(link, byte);
        return;
    }
    if (aPacket_AddByte(link.assembly, byte) != aErrNone) {
        aDebug_Printf(aDEBUG_LINK, "Out of sync\n");
        sStartSync(link);
        return;
    }
    if (sHandlePacket(link) != aErrNone) {
        _aLink_SetStatus(link, kLinkFault);
    }
}

static void* sInPipeProcess(void* argument)
{
    aLinkRecord& link = *static_cast<aLinkRecord*>(argument);
    link.syncState = kSyncStateSynced;
    _aLink_SetStatus(link, kLinkRunning);
    sMarkStarted(link, link.inStarted);

    while (link.running.load()) {
        uint8_t byte = 0;
        aErr result = aStream_Read(link.stream, &byte, 1);
        if (result == aErrNotReady) {
            // The transports answer at once when idle; block on the transport instead of asking
            // again, so an idle link costs nothing. Only a wait that ran out is a read time-out.
            result = aStream_Wait(link.stream, kInPipeWaitMS);
            if (result == aErrNotReady) {
                if (link.status.load() == kLinkSyncing) {
                    sStartSync(link);
                }
                continue;
            }
            if (result == aErrNone) {
                continue;
            }
        }
        if (result != aErrNone) {
            aDebug_Printf(aDEBUG_LINK, " sInPipeProcess(%d) IO_ERROR [aStream_Read()==>%d]\n", link.id, result);
            _aLink_SetStatus(link, kLinkIOError);
            aTime_MSSleep(kIOErrorPauseMS);
            continue;
        }
        sInPipeByte(link, byte);
    }
    aDebug_Printf(aDEBUG_LINK, " sInPipeProcess(%d) terminating\n", link.id);
    return nullptr;
}

// ---- output pipe ----

static size_t sAppendWire(uint8_t* buffer, const aPacket* packet)
{
    buffer[0] = packet->address;
    buffer[1] = packet->dataSize;
    std::memcpy(buffer + 2, packet->data, packet->dataSize);
    return static_cast<size_t>(packet->dataSize) + 2;
}

static void sSendPooled(aLinkRecord& link, const aPacket* first)
{
    uint8_t buffer[kPoolBytes];
    size_t used = sAppendWire(buffer, first);
    while (kPoolBytes - used >= aPACKET_MAX_BYTES) {
        aPacket* next = aPacketFifo_Get(link.outputFifo);
        if (next == nullptr) {
            break;
        }
        used += sAppendWire(buffer + used, next);
        aPacket_Destroy(&next);
    }
    const aErr result = aStream_Write(link.stream, buffer, used);
    if (result != aErrNone) {
        aDebug_Printf(aDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", result);
    }
}

static aErr sSendSingle(aLinkRecord& link, const aPacket* packet)
{
    uint8_t buffer[aPACKET_MAX_BYTES];
    return aStream_Write(link.stream, buffer, sAppendWire(buffer, packet));
}

static void* sOutPipeProcess(void* argument)
{
    aLinkRecord& link = *static_cast<aLinkRecord*>(argument);
    sMarkStarted(link, link.outStarted);

    while (link.running.load()) {
        aPacket* packet = aPacketFifo_Await(link.outputFifo, kOutPipeWaitMS);
        if (packet == nullptr) {
            continue;
        }
        aDebug_Printf(aDEBUG_TRAFFIC, " sOutPipeProcess(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", link.id,
                      packet->address, packet->dataSize, packet->data[0], packet->data[1], packet->data[2]);
        // Logged before it goes, so that the log never lags behind what the device has seen.
        sLogPacket(link, aPACKETLOG_SENT, packet);
        if (link.pooled.load()) {
            sSendPooled(link, packet);
        } else {
            const aErr result = sSendSingle(link, packet);
            if (result != aErrNone) {
                aDebug_Printf(aDEBUG_LINK, "sOutPipeProcess error writing: %d\n", result);
            }
        }
        aPacket_Destroy(&packet);
    }
    // What callers queued before the stop (route-off among it) still goes out.
    for (aPacket* packet = aPacketFifo_Get(link.outputFifo); packet != nullptr;
         packet = aPacketFifo_Get(link.outputFifo)) {
        sSendSingle(link, packet);
        aPacket_Destroy(&packet);
    }
    aDebug_Printf(aDEBUG_LINK, " sOutPipeProcess(%d) terminating\n", link.id);
    return nullptr;
}

// ---- record lifecycle ----

aErr _aLink_ReleaseRecord(aLinkRecord& link)
{
    aPacketFifoHandle input = link.inputFifo.exchange(0);
    aPacketFifoHandle output = link.outputFifo.exchange(0);
    aPacketFifo_Destroy(&input);
    const aErr result = aPacketFifo_Destroy(&output);
    aPacket_Destroy(&link.assembly);
    aPacketLog* log = link.packetLog.exchange(nullptr);
    aPacketLog_Destroy(&log);
    aMutex_Destroy(&link.logSema);
    aMutex_Destroy(&link.userFilterSema);
    link.userFilter = nullptr;
    link.userFilterRef = nullptr;
    if (link.stream != nullptr) {
        aDebug_Printf(aDEBUG_LINK, " Destroy stream\n");
        aStream_Destroy(&link.stream);
    }
    return result;
}

aLinkId aLink_Init(aLinkId id, aStream* stream)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return 0;
    }
    aLinkRecord& link = *record;
    aDebug_Printf(aDEBUG_LINK, "aLink_Init(%d, %p)\n", id, static_cast<void*>(stream));
    // A reset re-initialises a record whose stream is already gone; free whatever else it holds.
    aStream* keep = link.stream == stream ? stream : nullptr;
    if (keep != nullptr) {
        link.stream = nullptr;
    }
    _aLink_ReleaseRecord(link);

    link.id = id;
    link.running.store(false);
    link.stream = stream;
    _aLink_SetStatus(link, stream != nullptr ? kLinkStopped : kLinkNoStream);
    link.inThread = nullptr;
    link.outThread = nullptr;
    link.inputFifo = aPacketFifo_Create();
    link.outputFifo = aPacketFifo_Create();
    link.inProc = sInPipeProcess;
    link.outProc = sOutPipeProcess;
    link.inStarted.store(false);
    link.outStarted.store(false);
    link.assembly = aPacket_Create();
    link.packetLogSize = 0;
    link.pooled.store(false);
    char name[255];
    std::snprintf(name, sizeof(name), "aLink(%p)->userFilterSema", static_cast<void*>(&link));
    link.userFilterSema = aMutex_Create(name);
    if (link.inputFifo == 0 || link.outputFifo == 0 || link.assembly == nullptr || link.userFilterSema == nullptr) {
        return 0;
    }
    return id;
}

aErr aLink_Start(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aLinkRecord& link = *record;
    aDebug_Printf(aDEBUG_LINK, " aLink_Start(%d)\n", id);
    if (link.running.load()) {
        return aErrNone;
    }
    link.running.store(true);
    _aLink_SetStatus(link, kLinkStarting);
    link.inStarted.store(false);
    link.outStarted.store(false);
    aErr result = aErrNone;
    link.inThread = aThread_Create(link.inProc, &link);
    link.outThread = link.inThread != nullptr ? aThread_Create(link.outProc, &link) : nullptr;
    if (link.inThread == nullptr || link.outThread == nullptr) {
        result = aErrResource;
    } else if (!sAwaitState(link, kStartWaitMS, [](aLinkRecord& l) {
                   return l.inStarted.load() && l.outStarted.load() && l.status.load() == kLinkRunning;
               })) {
        result = aErrIndexRange;
    } else {
        result = aLink_ForceRoute(id, 1);
    }
    aDebug_Printf(aDEBUG_LINK, " leaving aLink_Start(%d)==> %d\n", id, result);
    return result;
}

aErr aLink_Stop(aLinkRecord* link)
{
    if (link == nullptr) {
        return aErrParam;
    }
    aDebug_Printf(aDEBUG_LINK, " aLink_Stop(%d)\n", link->id);
    const int32_t status = link->status.load();
    if (status == kLinkStopping || status == kLinkStopped) {
        return aErrNone;
    }
    _aLink_SetStatus(*link, kLinkStopping);
    aErr result = aErrNone;
    if (link->inThread == nullptr && link->outThread == nullptr) {
        // Nothing runs: the link keeps telling what it is (a link without stream, say).
        _aLink_SetStatus(*link, static_cast<aLinkStatus>(status));
    } else {
        // A link that has left the table (a destroy) has no id to route through: nothing is sent.
        if (_aLink_GetRecord(link->id) != nullptr) {
            result = aLink_ForceRoute(link->id, 0);
        }
        link->running.store(false);
        if (link->inThread != nullptr && aThread_Destroy(&link->inThread) != 0) {
            result = aErrUnknown;
        }
        if (link->outThread != nullptr && aThread_Destroy(&link->outThread) != 0) {
            result = aErrUnknown;
        }
        link->inStarted.store(false);
        link->outStarted.store(false);
        aPacket_Reset(link->assembly);
        _aLink_SetStatus(*link, kLinkStopped);
    }
    link->running.store(false);
    aDebug_Printf(aDEBUG_LINK, " leaving aLink_Stop(%d)==>%d\n", link->id, result);
    return result;
}

aErr aLink_Sync(aLinkId id)
{
    aDebug_Printf(aDEBUG_LINK, " aLink_Sync(%d)\n", id);
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aLinkRecord& link = *record;
    // The input pipe sends the first burst at its next byte or read time-out.
    _aLink_SetStatus(link, kLinkSyncing);
    const bool synced =
        sAwaitState(link, kSyncWaitMS, [](aLinkRecord& l) { return l.status.load() == kLinkRunning; });
    // Replies to the surplus sync packets are still on their way; let them land, then drop them.
    aPacketFifo_DrainPackets(link.outputFifo, [](const aPacket*, void*) { return 1; }, nullptr);
    aTime_MSSleep(kSyncSettleMS);
    aPacketFifo_DrainPackets(link.inputFifo, [](const aPacket*, void*) { return 1; }, nullptr);
    return synced ? aErrNone : aErrNotReady;
}

// ---- packet operations ----

aLinkStatus aLink_GetStatus(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? static_cast<aLinkStatus>(record->status.load()) : kLinkNoStream;
}

aPacket* aLink_GetPacket(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? aPacketFifo_Get(record->inputFifo) : nullptr;
}

aPacket* aLink_AwaitPacket(aLinkId id, uint32_t msTimeout)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? aPacketFifo_Await(record->inputFifo, msTimeout) : nullptr;
}

aPacket* aLink_GetFirst(aLinkId id, aPacketFilter filter, void* ref)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? aPacketFifo_GetFirst(record->inputFifo, filter, ref) : nullptr;
}

aPacket* aLink_AwaitFirst(aLinkId id, aPacketFilter filter, void* ref, uint32_t msTimeout)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr || msTimeout == 0) {
        return nullptr;
    }
    const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
    aPacket* packet = nullptr;
    while (packet == nullptr && record->running.load() && record->status.load() == kLinkRunning) {
        const uint64_t now = aTime_GetMonotonicMS();
        if (now >= deadline) {
            break;
        }
        packet = aPacketFifo_AwaitFirst(record->inputFifo, filter, ref, static_cast<uint32_t>(deadline - now));
    }
    return packet;
}

size_t aLink_DrainPackets(aLinkId id, aPacketFilter filter, void* ref)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? aPacketFifo_DrainPackets(record->inputFifo, filter, ref) : 0;
}

aErr aLink_PutPacket(aLinkId id, const aPacket* packet)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    return record != nullptr ? aPacketFifo_Put(record->outputFifo, packet) : aErrParam;
}

aErr aLink_InstallUserPacketFilter(aLinkId id, aPacketFilter filter, void* ref)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aMutex_Lock(record->userFilterSema);
    record->userFilter = filter;
    record->userFilterRef = filter != nullptr ? ref : nullptr;
    aMutex_Unlock(record->userFilterSema);
    return aErrNone;
}

aErr aLink_EnablePooledPackets(aLinkId id, bool enable)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    record->pooled.store(enable);
    return aErrNone;
}

aErr aLink_ForceRoute(aLinkId id, uint8_t value)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrNotFound;
    }
    return sQueuePacket(record->outputFifo, cmdFORCEROUTE, 1, &value);
}

// ---- packet log ----

aErr aLink_PacketDebug_SetLogSize(aLinkId id, int32_t bytes)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr || bytes > aLINK_PACKETLOG_MAX) {
        return aErrParam;
    }
    if (record->packetLog.load() != nullptr) {
        return aErrBusy;
    }
    record->packetLogSize = bytes < 0 ? 0 : bytes;
    return aErrNone;
}

aErr aLink_PacketDebug_Enable(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aLinkRecord& link = *record;
    aPacketLog* log = link.packetLog.load(std::memory_order_acquire);
    if (log == nullptr) {
        if (link.logSema == nullptr) {
            char name[255];
            std::snprintf(name, sizeof(name), "LOG_SEMA_%p", static_cast<void*>(&link));
            link.logSema = aMutex_Create(name);
        }
        log = aPacketLog_Create(static_cast<size_t>(link.packetLogSize > 0 ? link.packetLogSize
                                                                            : aLINK_PACKETLOG_DEFAULT));
        if (link.logSema == nullptr || log == nullptr) {
            aPacketLog_Destroy(&log);
            return aErrResource;
        }
        link.packetLog.store(log, std::memory_order_release);
    }
    aMutex_Lock(link.logSema);
    log->enabled = 1;
    aMutex_Unlock(link.logSema);
    return aErrNone;
}

aErr aLink_PacketDebug_Disable(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aPacketLog* log = record->packetLog.load(std::memory_order_acquire);
    if (log == nullptr) {
        return aErrNotReady;
    }
    aMutex_Lock(record->logSema);
    log->enabled = 0;
    aMutex_Unlock(record->logSema);
    return aErrNone;
}

aErr aLink_PacketDebug_Read(aLinkId id, uint8_t* type, size_t* length, uint8_t* buffer)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aPacketLog* log = record->packetLog.load(std::memory_order_acquire);
    if (log == nullptr) {
        return aErrNotReady;
    }
    aMutex_Lock(record->logSema);
    const aErr result = aPacketLog_Get(log, type, length, buffer);
    aMutex_Unlock(record->logSema);
    return result;
}

aErr aLink_PacketDebug_Write(aLinkId id, uint8_t type, uint8_t length, const uint8_t* data)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aPacketLog* log = record->packetLog.load(std::memory_order_acquire);
    if (log == nullptr) {
        return aErrNotReady;
    }
    aMutex_Lock(record->logSema);
    const aErr result = aPacketLog_Put(log, type, length, data);
    aMutex_Unlock(record->logSema);
    return result;
}

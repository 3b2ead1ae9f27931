// aLinkManagerInternal: the process-wide link table — ids, use counts — and link creation, reset and teardown per transport.
#include "Kestrelon2/common/aLinkManagerInternal.h"

#include <new>
#include <string>

#include "Kestrelon2/common/aDebug.h"
#include "Kestrelon2/common/aStreamsocket.h"
#include "Kestrelon2/unix/unix_streamserial.h"
#include "Kestrelon2/unix/unix_time.h"

static constexpr uint32_t kIdentifierOwnStream = 0xFFFFFFFF;
static constexpr int kResetAttempts = 20;
static constexpr uint32_t kResetPauseMS = 100;

// One link of the table. Serial links remember their line so that a reset can reopen it.
struct aLinkEntry {
    aLinkId id = 0;
    uint32_t identifier = 0; // serial number, IPv4 address, or kIdentifierOwnStream
    uint32_t port = 0;
    linkType type = kLinkTypeInvalid;
    int16_t useCount = 0;
    std::shared_ptr<aLinkRecord> link;
    std::string portName;
    uint32_t speedCode = 0;
    aLinkEntry* next = nullptr;
};

// The table: newest entry first, ids only ever counting up.
static aLinkEntry* _links = nullptr;
static aLinkId sNextId = 1;

static aMutex* sTableMutex()
{
    static aMutex* const mutex = aMutex_Create("aLink_Managed");
    return mutex;
}

// Holds the table mutex for one table operation.
class sTableLock {
public:
    sTableLock() { aMutex_Lock(sTableMutex()); }
    ~sTableLock() { aMutex_Unlock(sTableMutex()); }
    sTableLock(const sTableLock&) = delete;
    sTableLock& operator=(const sTableLock&) = delete;
};

static aLinkId sCreate(uint32_t identifier, uint32_t port, linkType type)
{
    auto* entry = new (std::nothrow) aLinkEntry;
    if (entry == nullptr) {
        return 0;
    }
    entry->link = std::shared_ptr<aLinkRecord>(new (std::nothrow) aLinkRecord);
    if (entry->link == nullptr) {
        delete entry;
        return 0;
    }
    entry->identifier = identifier;
    entry->port = port;
    entry->type = type;
    sTableLock lock;
    entry->id = sNextId++;
    entry->link->id = entry->id;
    entry->next = _links;
    _links = entry;
    return entry->id;
}

static aLinkEntry* sLookupEntryByID(aLinkId id)
{
    for (aLinkEntry* entry = _links; entry != nullptr; entry = entry->next) {
        if (entry->id == id) {
            return entry;
        }
    }
    return nullptr;
}

// The newest link of that transport to that identifier. The transport counts too: an IPv4
// address and a serial number can be the same 32 bits.
static aLinkId sLookupByIdentifier(uint32_t identifier, linkType type)
{
    sTableLock lock;
    for (aLinkEntry* entry = _links; entry != nullptr; entry = entry->next) {
        if (entry->identifier == identifier && entry->type == type) {
            return entry->id;
        }
    }
    return 0;
}

static aLinkEntry* sExtractEntry(aLinkId id)
{
    sTableLock lock;
    for (aLinkEntry** at = &_links; *at != nullptr; at = &(*at)->next) {
        if ((*at)->id == id) {
            aLinkEntry* entry = *at;
            *at = entry->next;
            entry->next = nullptr;
            return entry;
        }
    }
    return nullptr;
}

// Adds delta to the link's use count; returns the new count, or nothing for an unknown id.
static bool sChangeUseCount(aLinkId id, int16_t delta, int16_t* count)
{
    sTableLock lock;
    aLinkEntry* entry = sLookupEntryByID(id);
    if (entry == nullptr) {
        return false;
    }
    entry->useCount = static_cast<int16_t>(entry->useCount + delta);
    if (count != nullptr) {
        *count = entry->useCount;
    }
    return true;
}

std::shared_ptr<aLinkRecord> _aLink_GetRecord(aLinkId id)
{
    sTableLock lock;
    const aLinkEntry* entry = sLookupEntryByID(id);
    return entry != nullptr ? entry->link : nullptr;
}

// Reports an existing link being handed out once more, and counts the new user.
static aLinkId sReuse(aLinkId id)
{
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record != nullptr) {
        aDebug_Printf(aDEBUG_LINK, "Using already created object:(0x%08X, running:%d, state=%d)\n", id,
                      record->running.load() ? 1 : 0, record->status.load());
    }
    return sChangeUseCount(id, 1, nullptr) ? id : 0;
}

static bool sSpeedCode(uint32_t baudRate, uint32_t* code)
{
    static constexpr uint32_t kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    for (uint32_t i = 0; i < sizeof(kRates) / sizeof(kRates[0]); i++) {
        if (kRates[i] == baudRate) {
            *code = i;
            return true;
        }
    }
    return false;
}

// Initialises the new link over the stream, counts its first user and starts it; destroys the
// link (stream included) when any step fails.
static aLinkId sStartNew(aLinkId id, aStream* stream)
{
    aLinkId made = aLink_Init(id, stream);
    if (made == 0 || !sChangeUseCount(id, 1, nullptr) || aLink_Start(id) != aErrNone) {
        aLink_Destroy(&id);
        return 0;
    }
    return made;
}

aLinkId aLink_CreateTCPIP(uint32_t ipAddress, uint32_t ipPort)
{
    const aLinkId existing = sLookupByIdentifier(ipAddress, kLinkTypeTCPIP);
    if (existing != 0) {
        return sReuse(existing);
    }
    aLinkId id = sCreate(ipAddress, ipPort, kLinkTypeTCPIP);
    if (id == 0) {
        return 0;
    }
    aStream* stream = nullptr;
    if (aStream_CreateSocket(ipAddress, ipPort, &stream) != aErrNone) {
        aLink_Destroy(&id);
        return 0;
    }
    return sStartNew(id, stream);
}

aLinkId aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate)
{
    const aLinkId existing = sLookupByIdentifier(serialNumber, kLinkTypeSerial);
    if (existing != 0) {
        return sReuse(existing);
    }
    uint32_t speedCode = 0;
    if (portName == nullptr || !sSpeedCode(baudRate, &speedCode)) {
        return 0;
    }
    aLinkId id = sCreate(serialNumber, 0, kLinkTypeSerial);
    if (id == 0) {
        return 0;
    }
    {
        sTableLock lock;
        aLinkEntry* entry = sLookupEntryByID(id);
        entry->portName = portName;
        entry->speedCode = speedCode;
    }
    aStream* stream = nullptr;
    const aLinkId made = aStream_CreateSerial(portName, speedCode, 0, 0, 0, &stream) == aErrNone
                             ? sStartNew(id, stream)
                             : 0;
    if (made == 0) {
        aDebug_Printf(aDEBUG_LINK, " error creating USB Link, destroying the id (%d)\n", id);
        if (stream == nullptr) {
            aLink_Destroy(&id);
        }
    }
    return made;
}

aLinkId aLink_Create(aStream* stream)
{
    if (!aVALIDSTREAM(stream)) {
        return 0;
    }
    const aLinkId id = sCreate(kIdentifierOwnStream, 0, kLinkTypeInvalid);
    if (id == 0) {
        aStream_Destroy(&stream);
        return 0;
    }
    aDebug_Printf(aDEBUG_LINK, "aLink_Create(%08X) OLD VERSION\n", kIdentifierOwnStream);
    return sStartNew(id, stream);
}

aErr aLink_Destroy(aLinkId* id)
{
    if (id == nullptr) {
        return aErrParam;
    }
    aDebug_Printf(aDEBUG_LINK, "aLink_Destroy(%d)\n", *id);
    int16_t uses = 0;
    if (!sChangeUseCount(*id, -1, &uses)) {
        *id = 0;
        return aErrParam;
    }
    if (uses > 0) {
        aDebug_Printf(aDEBUG_LINK, "aLink_Destroy use_count: %d\n", uses);
        *id = 0;
        return aErrNone;
    }
    aLink_InstallUserPacketFilter(*id, nullptr, nullptr);
    aLinkEntry* entry = sExtractEntry(*id);
    aErr result = aErrUnknown;
    if (entry != nullptr) {
        aLink_Stop(entry->link.get());
        aDebug_Printf(aDEBUG_LINK, "aLink_Destroy(%d) destroy link item\n", *id);
        result = _aLink_ReleaseRecord(*entry->link);
        delete entry;
    }
    *id = 0;
    return result;
}

// A new stream for the link from what its entry remembers.
static aErr sRecreateStream(aLinkId id, aStream** stream)
{
    linkType type = kLinkTypeInvalid;
    uint32_t identifier = 0;
    uint32_t port = 0;
    std::string portName;
    uint32_t speedCode = 0;
    {
        sTableLock lock;
        const aLinkEntry* entry = sLookupEntryByID(id);
        if (entry == nullptr) {
            return aErrParam;
        }
        type = entry->type;
        identifier = entry->identifier;
        port = entry->port;
        portName = entry->portName;
        speedCode = entry->speedCode;
    }
    switch (type) {
    case kLinkTypeTCPIP:
        aDebug_Printf(aDEBUG_LINK, " recreate TCPIP stream\n");
        return aStream_CreateSocket(identifier, port, stream);
    case kLinkTypeSerial:
        aDebug_Printf(aDEBUG_LINK, " recreate serial stream\n");
        return aStream_CreateSerial(portName.c_str(), speedCode, 0, 0, 0, stream);
    default:
        aDebug_Printf(aDEBUG_LINK, " recreate invalid stream type\n");
        return aErrParam;
    }
}

aErr aLink_Reset(aLinkId id)
{
    aDebug_Printf(aDEBUG_LINK, "aLink_Reset(%d)\n", id);
    const std::shared_ptr<aLinkRecord> record = _aLink_GetRecord(id);
    if (record == nullptr) {
        return aErrParam;
    }
    aLink_Stop(record.get());
    _aLink_ReleaseRecord(*record);

    aStream* stream = nullptr;
    aErr result = aErrParam;
    for (int attempt = 0; attempt < kResetAttempts; attempt++) {
        result = sRecreateStream(id, &stream);
        if (result == aErrNone || result == aErrParam) {
            break;
        }
        aTime_MSSleep(kResetPauseMS);
    }
    if (result != aErrNone) {
        // The old stream and queues are gone: leave a stopped link without a stream that still
        // answers every operation, until the caller destroys it.
        aDebug_Printf(aDEBUG_LINK, " ERROR - could not recreate stream: %d\n", result);
        aLink_Init(id, nullptr);
        return result;
    }
    if (aLink_Init(id, stream) == 0) {
        return aErrResource;
    }
    return aLink_Start(id);
}

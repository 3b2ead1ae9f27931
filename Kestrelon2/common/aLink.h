// aLink: links to modules — the transports and link specifiers, link creation and teardown, and the packet operations callers use on a link.
#ifndef KESTRELON2_COMMON_ALINK_H
#define KESTRELON2_COMMON_ALINK_H

#include <cstdint>

#include "Kestrelon2/common/aError.h"
#include "Kestrelon2/common/aPacket.h"
#include "Kestrelon2/common/aStream.h"
#include "Kestrelon2/common/packetfifo.h"

typedef enum linkType : uint32_t {
    kLinkTypeInvalid = 0,
    kLinkTypeUSB = 1,
    kLinkTypeTCPIP = 2,
    kLinkTypeSerial = 3,
    kLinkTypeNexus = 4,
} linkType;

// 128 bytes, 32 words, every unused word 0. Discovery fills it, the device API connects with
// it; it is passed by value and always copied whole. Network and serial links share the tail.
typedef struct linkSpec {
    linkType type;
    uint32_t serialNumber;
    uint32_t module;
    uint32_t router;
    uint32_t routerSerialNumber;
    uint32_t model;
    union {
        struct {
            uint32_t ipAddress; // network byte order
            uint32_t ipPort;    // host byte order
        };
        struct {
            uint32_t baudRate;
            char portName[100]; // zero-terminated device path, overlays ipPort
        };
    };
} linkSpec;

static_assert(sizeof(linkSpec) == 128, "linkSpec is 32 words on every transport");

// A zeroed specifier of the given type; null when memory is short.
linkSpec* aLinkSpec_Create(linkType type);

// A heap copy of a specifier; null when memory is short.
linkSpec* aLinkSpec_Copy(linkSpec spec);

// Frees the specifier and clears the caller's pointer; aErrParam for a null pointer or record.
aErr aLinkSpec_Destroy(linkSpec** spec);

// Links are named by ids from 1 upward, never reused; 0 names none.
typedef uint32_t aLinkId;

// What aLink_GetStatus reports; only kLinkRunning counts as connected.
typedef enum aLinkStatus : int32_t {
    kLinkStopped = 0,   // made with a stream, or pipes stopped
    kLinkStarting = 1,  // pipes being launched
    kLinkRunning = 2,   // pipes running, byte stream in sync: packets flow
    kLinkStopping = 3,  // being stopped
    kLinkSyncing = 4,   // sync exchange in progress
    kLinkNoStream = 5,  // made without a stream; also the answer for an unknown id
    kLinkIOError = 6,   // the last stream read failed
    kLinkFault = 8,     // a received packet could not be queued
} aLinkStatus;

// Largest packet log a link accepts, and the size it gets when none was set.
inline constexpr int32_t aLINK_PACKETLOG_MAX = 0x4000000;
inline constexpr int32_t aLINK_PACKETLOG_DEFAULT = 0x10000;

// Link table. Creation and destruction are not atomic: callers serialise them.

// A TCP link to a module, or one more use of the link already open to that address (the port is
// not compared). 0 when the connection or the link's start fails.
aLinkId aLink_CreateTCPIP(uint32_t ipAddress, uint32_t ipPort);

// A link over a serial line at one of 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400
// baud, or one more use of the link already open for that serial number. 0 for any other rate
// or when the line or the link's start fails.
aLinkId aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate);

// A link over a stream the caller made; the link owns the stream from here on, also when the
// create fails (then the stream is destroyed). 0 on failure.
aLinkId aLink_Create(aStream* stream);

// (Re)initialises the link's record over the stream (null: a link without stream): new queues,
// no filter, no packet log. Returns the id, 0 for an unknown id.
aLinkId aLink_Init(aLinkId id, aStream* stream);

// Drops one use; the last use stops the link and releases it with its stream and queues. The
// caller's id is cleared in every case. aErrParam for an unknown id.
aErr aLink_Destroy(aLinkId* id);

// Stops the link, replaces its stream and queues, and starts it again under the same id.
// aErrParam for an unknown id; when no new stream can be made the link is left stopped without
// a stream and the stream's error is returned.
aErr aLink_Reset(aLinkId id);

// Link operations.

// The link's status; kLinkNoStream for an unknown id.
aLinkStatus aLink_GetStatus(aLinkId id);

// The oldest received packet (the caller destroys it), or null. Never blocks.
aPacket* aLink_GetPacket(aLinkId id);

// The oldest received packet, waiting up to msTimeout; null on time-out or for an unknown id.
aPacket* aLink_AwaitPacket(aLinkId id, uint32_t msTimeout);

// The oldest received packet the filter selects, or null. Never blocks.
aPacket* aLink_GetFirst(aLinkId id, aPacketFilter filter, void* ref);

// Waits up to msTimeout for a received packet the filter selects; null on time-out, when the
// link is not running, or for an unknown id. A time-out of 0 returns null at once.
aPacket* aLink_AwaitFirst(aLinkId id, aPacketFilter filter, void* ref, uint32_t msTimeout);

// Removes the received packets the filter selects; returns how many. 0 for an unknown id.
size_t aLink_DrainPackets(aLinkId id, aPacketFilter filter, void* ref);

// Queues a copy of the packet for sending: the queue's result, aErrParam for an unknown id.
aErr aLink_PutPacket(aLinkId id, const aPacket* packet);

// Sets (null: clears) the filter that sees every received packet first, on the input pipe's
// thread; returning exactly 1 consumes the packet. aErrParam for an unknown id.
aErr aLink_InstallUserPacketFilter(aLinkId id, aPacketFilter filter, void* ref);

// Pools queued packets into writes of up to 4096 bytes (for bulk transfers). aErrParam for an
// unknown id.
aErr aLink_EnablePooledPackets(aLinkId id, bool enable);

// Starts the two pipes and asks the module to route to this link. aErrNone at once when already
// running; aErrParam for an unknown id, aErrResource when a thread cannot be started,
// aErrIndexRange when the pipes are not up within 2 seconds (they are left to stop or destroy).
aErr aLink_Start(aLinkId id);

// Finds the packet boundaries of the byte stream again and then empties both queues: aErrNone
// when in sync within about 2 seconds, aErrNotReady when not, aErrParam for an unknown id.
aErr aLink_Sync(aLinkId id);

// Queues the force-route packet (value 1 on, 0 off). aErrNotFound for an unknown id, aErrMemory
// when the packet cannot be made, else the queue's result.
aErr aLink_ForceRoute(aLinkId id, uint8_t value);

// Packet log: a ring of the traffic, for debugging. Set the size before the first enable
// (negative sizes become 0, meaning the default). aErrParam for an unknown id or a size above
// aLINK_PACKETLOG_MAX, aErrBusy once the log exists.
aErr aLink_PacketDebug_SetLogSize(aLinkId id, int32_t bytes);

// Makes the log on first use and marks it enabled. aErrParam for an unknown id, aErrResource
// when it cannot be made.
aErr aLink_PacketDebug_Enable(aLinkId id);

// Marks the log disabled (it keeps recording). aErrNotReady without a log.
aErr aLink_PacketDebug_Disable(aLinkId id);

// Takes the oldest log entry (see aPacketLog_Get). aErrNotReady without a log, aErrParam for an
// unknown id.
aErr aLink_PacketDebug_Read(aLinkId id, uint8_t* type, size_t* length, uint8_t* buffer);

// Appends an entry of the caller's own type. aErrNotReady without a log, aErrParam for an
// unknown id.
aErr aLink_PacketDebug_Write(aLinkId id, uint8_t type, uint8_t length, const uint8_t* data);

#endif

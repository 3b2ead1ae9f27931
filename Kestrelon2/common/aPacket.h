// aPacket: the device packet record and the byte-by-byte assembler that cuts packets out of a byte stream.
#ifndef KESTRELON2_COMMON_APACKET_H
#define KESTRELON2_COMMON_APACKET_H

#include <cstdint>

#include "Kestrelon2/common/aError.h"

// Most data bytes one packet carries; on the wire a packet is address, length, data.
inline constexpr uint8_t aPACKET_MAX_DATA = 28;

// Most bytes one packet occupies on the wire: address and length byte plus the data.
inline constexpr uint8_t aPACKET_MAX_BYTES = aPACKET_MAX_DATA + 2;

// Tag carried by every live packet; anything else is a stale or foreign pointer.
inline constexpr uint16_t aPACKET_CHECK = 0xBEEF;

// Module addresses are even; these two odd addresses are handled by the link itself.
inline constexpr uint8_t cmdSYNC = 0xAD;       // empty packet; a module answers from its own address
inline constexpr uint8_t cmdFORCEROUTE = 0xAF; // one data byte: route on (1) or off (0)

typedef struct aPacket {
    uint16_t check;
    uint8_t byteCount; // address, length and data bytes placed so far by the assembler
    uint8_t address;
    uint8_t dataSize;
    uint8_t data[aPACKET_MAX_DATA];
} aPacket;

// True for a live packet: non-null and carrying the packet tag.
inline bool aVALIDPACKET(const aPacket* packet)
{
    return packet != nullptr && packet->check == aPACKET_CHECK;
}

// A zeroed live packet; null when memory is short.
aPacket* aPacket_Create();

// A complete packet holding length bytes from data; null for null data, a length above 28 or
// short memory. The address is taken as given.
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);

// A duplicate of a live packet; null for an invalid packet, one whose length byte is out of
// range, or short memory.
aPacket* aPacket_Copy(const aPacket* packet);

// Data byte 0, the command code. aErrParam for a null out pointer, aErrPacket for an invalid
// packet or one without data.
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd);

// The option code of data byte 1 without its operation bits; needs two data bytes.
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);

// The entity index of data byte 2 without its flags; needs three data bytes.
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

// Empties the packet for the next assembly; aErrParam for an invalid packet.
aErr aPacket_Reset(aPacket* packet);

// Feeds one received byte: address, then length, then data. aErrPacket refuses the byte (zero
// or odd address, length above 28, a byte past the announced length), aErrOverrun a 31st byte.
// A refused length stays stored. A packet that refused a byte, or is complete, refuses every
// further byte until it is reset.
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);

// True once a live packet holds its address, length and every announced data byte; never for
// a packet without an address or with a length above 28.
bool aPacket_IsComplete(const aPacket* packet);

// Frees the packet and clears the caller's pointer; aErrParam for a null pointer or packet.
aErr aPacket_Destroy(aPacket** packet);

#endif

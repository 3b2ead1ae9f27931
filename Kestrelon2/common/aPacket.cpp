// aPacket: creation, copying and release of packets, the UEI header accessors and the byte assembler.
#include "Kestrelon2/common/aPacket.h"

#include <cstdlib>
#include <cstring>

#include "Kestrelon2/common/aUEI.h"

// Reads one header byte of a live packet that holds at least `need` data bytes.
static aErr sHeaderByte(const aPacket* packet, uint8_t need, uint8_t mask, uint8_t* out)
{
    if (out == nullptr) {
        return aErrParam;
    }
    if (!aVALIDPACKET(packet) || packet->dataSize < need || packet->dataSize > aPACKET_MAX_DATA) {
        return aErrPacket;
    }
    *out = packet->data[need - 1] & mask;
    return aErrNone;
}

aPacket* aPacket_Create()
{
    auto* packet = static_cast<aPacket*>(std::calloc(1, sizeof(aPacket)));
    if (packet != nullptr) {
        packet->check = aPACKET_CHECK;
    }
    return packet;
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data)
{
    if (data == nullptr || length > aPACKET_MAX_DATA) {
        return nullptr;
    }
    aPacket* packet = aPacket_Create();
    if (packet != nullptr) {
        packet->address = address;
        packet->dataSize = length;
        packet->byteCount = static_cast<uint8_t>(length + 2);
        std::memcpy(packet->data, data, length);
    }
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet)
{
    // A refused length byte stays stored in the packet; a copy of it would send every reader
    // of the data past the buffer, so such a packet cannot be copied.
    if (!aVALIDPACKET(packet) || packet->dataSize > aPACKET_MAX_DATA) {
        return nullptr;
    }
    auto* copy = static_cast<aPacket*>(std::malloc(sizeof(aPacket)));
    if (copy != nullptr) {
        std::memcpy(copy, packet, sizeof(aPacket));
    }
    return copy;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd)
{
    return sHeaderByte(packet, 1, 0xFF, cmd);
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* option)
{
    return sHeaderByte(packet, 2, aUEI_OPTION_MASK, option);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index)
{
    return sHeaderByte(packet, 3, aUEI_INDEX_MASK, index);
}

aErr aPacket_Reset(aPacket* packet)
{
    if (!aVALIDPACKET(packet)) {
        return aErrParam;
    }
    packet->byteCount = 0;
    packet->address = 0;
    packet->dataSize = 0;
    std::memset(packet->data, 0, sizeof(packet->data));
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte)
{
    if (!aVALIDPACKET(packet)) {
        return aErrParam;
    }
    // Saturate rather than wrap: a caller that keeps feeding a refused packet must go on
    // seeing the overrun instead of the count starting over and indexing before the data.
    if (packet->byteCount < 0xFF) {
        packet->byteCount++;
    }
    if (packet->byteCount > aPACKET_MAX_BYTES) {
        return aErrOverrun;
    }
    // The byte's place is decided by the count, not by which fields are still zero, so a
    // packet that refused a byte, or is already complete, refuses everything until it is
    // reset instead of quietly framing the following bytes at the wrong offsets.
    if (packet->address == 0) {
        // Zero means "no address yet", so a zero byte can never start a packet.
        if (packet->byteCount != 1 || byte == 0 || (byte & 1) != 0) {
            return aErrPacket;
        }
        packet->address = byte;
        return aErrNone;
    }
    if (packet->byteCount == 2) {
        packet->dataSize = byte;
        return byte > aPACKET_MAX_DATA ? aErrPacket : aErrNone;
    }
    if (packet->dataSize > aPACKET_MAX_DATA || packet->byteCount > packet->dataSize + 2) {
        return aErrPacket;
    }
    packet->data[packet->byteCount - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet)
{
    // Two refused bytes also make a count of 2 over a length of 0; without an address that is
    // no packet.
    return aVALIDPACKET(packet) && packet->address != 0 && packet->dataSize <= aPACKET_MAX_DATA &&
           packet->byteCount == packet->dataSize + 2;
}

aErr aPacket_Destroy(aPacket** packet)
{
    if (packet == nullptr) {
        return aErrParam;
    }
    aPacket* doomed = *packet;
    *packet = nullptr;
    if (!aVALIDPACKET(doomed)) {
        return aErrParam;
    }
    // Clear the tag so a stale pointer to the freed block no longer passes as a live packet.
    doomed->check = 0;
    std::free(doomed);
    return aErrNone;
}

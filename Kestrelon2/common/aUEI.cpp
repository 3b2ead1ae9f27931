// aUEI: big-endian value access and the classification of packets by their UEI header.
#include "Kestrelon2/common/aUEI.h"

#include <cstring>

// Command codes of the link, the module-level queries and the loader; their packets are not
// laid out as UEI payloads.
static constexpr uint8_t sNonUEICommands[] = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, cmdSYNC, cmdFORCEROUTE};

// The last data byte of a live packet, where byte sequences keep their sequence byte.
static bool sLastDataByte(const aPacket* packet, uint8_t* last)
{
    if (!aVALIDPACKET(packet) || packet->dataSize == 0 || packet->dataSize > aPACKET_MAX_DATA) {
        return false;
    }
    *last = packet->data[packet->dataSize - 1];
    return true;
}

uint16_t aUEI_RetrieveShort(const uint8_t* bytes)
{
    if (bytes == nullptr) {
        return 0;
    }
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

void aUEI_StoreShort(uint8_t* bytes, uint16_t value)
{
    if (bytes == nullptr) {
        return;
    }
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

uint32_t aUEI_RetrieveInt(const uint8_t* bytes)
{
    if (bytes == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

void aUEI_StoreInt(uint8_t* bytes, uint32_t value)
{
    if (bytes == nullptr) {
        return;
    }
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

size_t aUEI_ModifyIntBuffer(uint32_t* words, size_t count)
{
    if (words == nullptr) {
        return 0;
    }
    for (size_t i = 0; i < count; i++) {
        uint8_t bytes[4];
        std::memcpy(bytes, &words[i], sizeof(bytes));
        words[i] = aUEI_RetrieveInt(bytes);
    }
    return count;
}

uint8_t aUEI_getBytesSequence(const aPacket* packet)
{
    uint8_t last = 0;
    if (!sLastDataByte(packet, &last)) {
        return 0;
    }
    return last & aUEI_SEQUENCE_NUMBER_MASK;
}

bool aUEI_getBytesContinue(const aPacket* packet)
{
    uint8_t last = 0;
    return sLastDataByte(packet, &last) && (last & aUEI_SEQUENCE_CONTINUE) != 0;
}

bool aUEI_getBytesFullPacket(const aPacket* packet)
{
    return aVALIDPACKET(packet) &&
           (packet->dataSize == aPACKET_MAX_DATA - 1 || packet->dataSize == aPACKET_MAX_DATA);
}

bool aUEI_isNotUEIPayload(const aPacket* packet)
{
    if (!aVALIDPACKET(packet)) {
        return false;
    }
    for (uint8_t cmd : sNonUEICommands) {
        if (packet->data[aUEI_CMD_BYTE] == cmd) {
            return true;
        }
    }
    return false;
}

bool aUEI_isUEIPayload(const aPacket* packet)
{
    // An invalid packet carries nothing, so it is neither kind of payload.
    return aVALIDPACKET(packet) && !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet)
{
    return aVALIDPACKET(packet) && packet->dataSize > 4 && aUEI_isUEIPayload(packet) &&
           (packet->data[aUEI_OPTION_BYTE] & aUEI_OPERATION_MASK) == aUEI_OPERATION_REPLY &&
           (packet->data[aUEI_SPECIFIER_BYTE] & aUEI_SPECIFIER_STREAM) != 0;
}

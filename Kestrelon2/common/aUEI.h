// aUEI: the layout of Universal Entity Interface payloads inside packets and the byte order of their values.
#ifndef KESTRELON2_COMMON_AUEI_H
#define KESTRELON2_COMMON_AUEI_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aPacket.h"

// Data byte positions of a UEI payload; a value, if any, starts at aUEI_VALUE_BYTE.
inline constexpr uint8_t aUEI_CMD_BYTE = 0;
inline constexpr uint8_t aUEI_OPTION_BYTE = 1;
inline constexpr uint8_t aUEI_SPECIFIER_BYTE = 2;
inline constexpr uint8_t aUEI_VALUE_BYTE = 3;

// Option byte: bits 0-5 the option code, bits 6-7 the operation.
inline constexpr uint8_t aUEI_OPTION_MASK = 0x3F;
inline constexpr uint8_t aUEI_OPERATION_MASK = 0xC0;
inline constexpr uint8_t aUEI_OPERATION_GET = 0x40;       // get request from the host
inline constexpr uint8_t aUEI_OPERATION_REPLY = 0x00;     // reply to a get, and every streamed value
inline constexpr uint8_t aUEI_OPERATION_SET = 0x80;       // set request from the host
inline constexpr uint8_t aUEI_OPERATION_SET_REPLY = 0xC0; // reply to a set

// Specifier byte: bits 0-4 the entity index, bits 5-7 flags.
inline constexpr uint8_t aUEI_INDEX_MASK = 0x1F;
inline constexpr uint8_t aUEI_SPECIFIER_REQUEST = 0x20; // every host request; replies match on the index only
inline constexpr uint8_t aUEI_SPECIFIER_STREAM = 0x40;  // the packet carries a streamed value
inline constexpr uint8_t aUEI_SPECIFIER_ERROR = 0x80;   // error reply: the value byte is an aErr code

// Byte sequences: every packet of a run but the last carries this many value bytes after the
// header, and ends with a sequence byte (continue flag, sequence number modulo 128).
inline constexpr uint8_t aUEI_SEQUENCE_VALUE_BYTES = 24;
inline constexpr uint8_t aUEI_SEQUENCE_CONTINUE = 0x80;
inline constexpr uint8_t aUEI_SEQUENCE_NUMBER_MASK = 0x7F;

// Big-endian 16-bit value at bytes[0..1]; 0 for a null pointer.
uint16_t aUEI_RetrieveShort(const uint8_t* bytes);

// Writes value big-endian to bytes[0..1]; nothing for a null pointer.
void aUEI_StoreShort(uint8_t* bytes, uint16_t value);

// Big-endian 32-bit value at bytes[0..3]; 0 for a null pointer.
uint32_t aUEI_RetrieveInt(const uint8_t* bytes);

// Writes value big-endian to bytes[0..3]; nothing for a null pointer.
void aUEI_StoreInt(uint8_t* bytes, uint32_t value);

// Replaces each of count words in place by the value of its own four bytes read big-endian,
// turning a block received from a module into host words. Returns count (0 for null words).
size_t aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

// Sequence number of one packet of a byte sequence; 0 for an invalid or empty packet.
uint8_t aUEI_getBytesSequence(const aPacket* packet);

// True when more packets of the byte sequence follow this one.
bool aUEI_getBytesContinue(const aPacket* packet);

// True for a packet that fills a sequence step (27 or 28 data bytes).
bool aUEI_getBytesFullPacket(const aPacket* packet);

// True when the command byte is one of the link and module commands that carry no UEI
// payload; false for an invalid packet.
bool aUEI_isNotUEIPayload(const aPacket* packet);

// True for a live packet whose command byte carries a UEI payload.
bool aUEI_isUEIPayload(const aPacket* packet);

// True for a value a module streams on its own: a UEI reply (no operation bits) with the
// stream flag and more than four data bytes.
bool aUEI_isStreamPacket(const aPacket* packet);

#endif

// aPacket_fuzz: drives the packet assembler with arbitrary byte streams, as a link's input pipe would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Kestrelon2/common/aPacket.h"

static void _require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    aPacket* packet = aPacket_Create();
    if (packet == nullptr) {
        return 0;
    }
    size_t start = 0;
    for (size_t i = 0; i < size; i++) {
        const aErr err = aPacket_AddByte(packet, bytes[i]);
        if (err != aErrNone) {
            _require(err == aErrPacket || err == aErrOverrun);
            _require(aPacket_Reset(packet) == aErrNone);
            start = i + 1;
            continue;
        }
        _require(packet->byteCount <= aPACKET_MAX_BYTES);
        _require(packet->byteCount == i + 1 - start);
        if (aPacket_IsComplete(packet)) {
            _require(packet->dataSize <= aPACKET_MAX_DATA);
            _require(packet->address != 0 && (packet->address & 1) == 0);
            // The framed packet must be exactly the bytes it was cut from.
            _require(bytes[start] == packet->address && bytes[start + 1] == packet->dataSize);
            _require(std::memcmp(&bytes[start + 2], packet->data, packet->dataSize) == 0);
            aPacket* copy = aPacket_Copy(packet);
            _require(copy != nullptr && std::memcmp(copy, packet, sizeof(aPacket)) == 0);
            _require(aPacket_Destroy(&copy) == aErrNone && copy == nullptr);
            _require(aPacket_Reset(packet) == aErrNone);
            start = i + 1;
        }
    }
    _require(aPacket_Destroy(&packet) == aErrNone);
    return 0;
}

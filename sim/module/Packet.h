// Packet: one packet as the virtual module frames and sends it: an address byte and up to 28 data bytes.
#ifndef SIM_MODULE_PACKET_H
#define SIM_MODULE_PACKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksim {

using Bytes = std::vector<uint8_t>;

struct Packet {
    static constexpr size_t MAX_DATA = 28;
    // The two odd addresses that are link-level packets rather than packets for a module.
    static constexpr uint8_t SYNC = 0xAD;
    static constexpr uint8_t FORCE_ROUTE = 0xAF;

    uint8_t address = 0;
    Bytes data;

    // Address, length, data: the only form a packet has on the wire.
    Bytes wire() const
    {
        Bytes bytes;
        bytes.reserve(2 + data.size());
        bytes.push_back(address);
        bytes.push_back(static_cast<uint8_t>(data.size()));
        bytes.insert(bytes.end(), data.begin(), data.end());
        return bytes;
    }

    bool operator==(const Packet&) const = default;
};

} // namespace ksim

#endif

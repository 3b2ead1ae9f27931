// ModuleFramer: cuts the host's byte stream into packets on the module side and recovers from garbage.
#ifndef SIM_MODULE_MODULEFRAMER_H
#define SIM_MODULE_MODULEFRAMER_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/module/Packet.h"

namespace ksim {

// The wire has no framing besides the length byte, so a byte that cannot be where it is marks
// lost boundaries. Rule: a packet starts only with an even non-zero address, 0xAD or 0xAF. Any
// other byte where a packet should start is dropped. A length above 28 (or a length other than
// 0 after 0xAD, other than 1 after 0xAF) drops the start byte, and the length byte itself is then
// looked at as a possible start, so a sync packet right behind garbage is never lost.
class ModuleFramer {
public:
    // Feeds one byte; returns the packet it completes, if any.
    std::optional<Packet> push(uint8_t byte);

    // The bytes dropped since the last call, oldest first.
    Bytes takeDropped();

    // Bytes dropped over the framer's life.
    size_t droppedCount() const { return droppedTotal_; }

    // Forgets a partly received packet (a new connection starts clean).
    void reset();

private:
    enum class State { Start, Length, Data };

    static bool plausibleStart(uint8_t byte);
    bool plausibleLength(uint8_t length) const;
    void drop(uint8_t byte);

    State state_ = State::Start;
    Packet packet_;
    size_t length_ = 0;
    Bytes dropped_;
    size_t droppedTotal_ = 0;
};

} // namespace ksim

#endif

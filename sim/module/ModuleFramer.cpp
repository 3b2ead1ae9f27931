// ModuleFramer: the module-side packet framer and its resynchronisation rule.
#include "sim/module/ModuleFramer.h"

namespace ksim {

bool ModuleFramer::plausibleStart(uint8_t byte)
{
    return (byte != 0 && (byte & 1) == 0) || byte == Packet::SYNC || byte == Packet::FORCE_ROUTE;
}

bool ModuleFramer::plausibleLength(uint8_t length) const
{
    switch (packet_.address) {
    case Packet::SYNC:
        return length == 0;
    case Packet::FORCE_ROUTE:
        return length == 1;
    default:
        return length <= Packet::MAX_DATA;
    }
}

void ModuleFramer::drop(uint8_t byte)
{
    dropped_.push_back(byte);
    ++droppedTotal_;
}

std::optional<Packet> ModuleFramer::push(uint8_t byte)
{
    switch (state_) {
    case State::Start:
        if (!plausibleStart(byte)) {
            drop(byte);
            return std::nullopt;
        }
        packet_ = Packet{byte, {}};
        state_ = State::Length;
        return std::nullopt;
    case State::Length:
        if (!plausibleLength(byte)) {
            drop(packet_.address);
            state_ = State::Start;
            return push(byte);
        }
        if (byte == 0) {
            state_ = State::Start;
            return std::move(packet_);
        }
        length_ = byte;
        state_ = State::Data;
        return std::nullopt;
    case State::Data:
        packet_.data.push_back(byte);
        if (packet_.data.size() < length_) {
            return std::nullopt;
        }
        state_ = State::Start;
        return std::move(packet_);
    }
    return std::nullopt;
}

Bytes ModuleFramer::takeDropped()
{
    Bytes bytes;
    bytes.swap(dropped_);
    return bytes;
}

void ModuleFramer::reset()
{
    state_ = State::Start;
    packet_ = Packet{};
    length_ = 0;
    dropped_.clear();
}

} // namespace ksim

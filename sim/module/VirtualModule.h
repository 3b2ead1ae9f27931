// VirtualModule: the protocol side of one virtual Kestrelon module, as its firmware answers the host; it does no I/O of its own.
#ifndef SIM_MODULE_VIRTUALMODULE_H
#define SIM_MODULE_VIRTUALMODULE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Kestrelon2/common/aError.h"
#include "sim/module/ModuleConfig.h"
#include "sim/module/Packet.h"
#include "sim/module/WireLog.h"

namespace ksim {

// Safe to use from several endpoint threads at once: all of them feed the same module.
class VirtualModule {
public:
    // Framed packets the record keeps; older ones make way, so a long run stays bounded.
    static constexpr size_t RECORD_LIMIT = 65536;
    static constexpr uint8_t CMD_SYSTEM = 3;
    static constexpr uint8_t CMD_ECHO = 23;
    static constexpr uint8_t CMD_QUERY = 73;

    // Opens the packet log of config.logPath, if given. std::runtime_error for a configuration
    // no module could have (odd address, version that does not pack, name too long) or a log
    // that cannot be opened.
    explicit VirtualModule(ModuleConfig config);
    // Writes to a log shared with other modules (or to none); config.logPath is not opened.
    VirtualModule(ModuleConfig config, std::shared_ptr<WireLog> log);
    VirtualModule(const VirtualModule&) = delete;
    VirtualModule& operator=(const VirtualModule&) = delete;

    // The configuration the module started with; values the host can set are read below.
    const ModuleConfig& config() const { return config_; }
    uint32_t packedVersion() const { return packedVersion_; }
    bool routed() const { return routed_; }
    uint8_t routerAddress() const { return router_; }
    uint32_t heartbeatMs() const { return heartbeatMs_; }
    std::string name() const;

    // One packet framed from the host: recorded, logged, answered. Returns the packets to send
    // back, in order (none, one, or a byte-array sequence).
    std::vector<Packet> handle(const Packet& packet);

    // The "up" heartbeat the module sends on its own.
    Packet heartbeat() const { return Packet{config_.moduleAddress, {0, 0}}; }

    // Writes a line to the packet log, if there is one (endpoints log what they send).
    void log(const char* direction, const Bytes& bytes) const;

    // Wire bytes of every framed packet received, oldest first.
    std::vector<Bytes> received() const;
    // True as soon as a received packet (already recorded or arriving within `limit`) matches;
    // a packet counts once the module has acted on it. `match` runs under the record's lock and
    // must not call back into the module.
    bool awaitReceived(const std::function<bool(const Bytes&)>& match, std::chrono::milliseconds limit) const;
    void clearReceived();

private:
    enum class Width { Byte, Word, Array, Call };
    struct SystemOption {
        uint8_t code;
        Width width;
        bool get;
        bool set;
    };
    // A byte array the host is setting, packet by packet.
    struct ArrayRun {
        bool active = false;
        uint8_t expected = 0;
        Bytes bytes;
        aErr error = aErrNone;
    };

    static const SystemOption* findSystemOption(uint8_t code);

    void record(const Packet& packet);
    // Everything the module answers goes through here, under stateMutex_.
    std::vector<Packet> answer(const Packet& packet);
    std::vector<Packet> answerQuery(const Bytes& request) const;
    std::vector<Packet> answerSystem(const Bytes& request);
    std::vector<Packet> answerNameSet(const Bytes& request);
    std::vector<Packet> nameAnswer(uint8_t index) const;
    uint32_t systemValue(uint8_t code) const;
    aErr setSystemValue(uint8_t code, uint32_t value);
    aErr ueiSupport(uint8_t command, uint8_t option, uint8_t index, uint8_t direction) const;
    Packet reply(Bytes payload) const { return Packet{config_.moduleAddress, std::move(payload)}; }
    Packet errorAnswer(const Bytes& request, aErr code) const;

    const ModuleConfig config_;
    const uint32_t packedVersion_;
    const std::shared_ptr<WireLog> log_;

    mutable std::mutex stateMutex_;
    std::atomic<bool> routed_{false};
    std::atomic<uint8_t> router_;
    std::atomic<uint32_t> heartbeatMs_;
    std::string name_;
    ArrayRun nameRun_;

    mutable std::mutex recordMutex_;
    mutable std::condition_variable recordChanged_;
    std::deque<Bytes> received_;
    size_t recordedTotal_ = 0;
};

} // namespace ksim

#endif

// Endpoint: what every transport of a virtual module shares: its thread, wake-up descriptor, heartbeat timer, injected bytes, and answering the host on a descriptor.
#ifndef SIM_MODULE_ENDPOINT_H
#define SIM_MODULE_ENDPOINT_H

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/module/ModuleFramer.h"
#include "sim/module/Packet.h"
#include "sim/module/VirtualModule.h"

namespace ksim {

// One thread per endpoint blocks in poll() over its descriptors and the wake descriptor; the
// poll time-out is the time to the next heartbeat, at most IDLE_POLL (so an interval set through
// another endpoint of the same module is taken up within that time).
class Endpoint {
public:
    static constexpr std::chrono::milliseconds IDLE_POLL{1000};
    // How long a write may wait for a host that does not read before the bytes are given up.
    static constexpr std::chrono::milliseconds WRITE_LIMIT{1000};

    virtual ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Sends raw bytes to the host as they are, at the next turn of the endpoint's thread; they
    // are dropped when no host is connected.
    void inject(Bytes bytes);

    VirtualModule& module() const { return module_; }

protected:
    explicit Endpoint(VirtualModule& module);

    // The derived constructor starts the thread as its last step and its destructor stops it
    // first, so run() only ever sees a whole object.
    void start();
    void stop();
    virtual void run() = 0;

    bool stopping() const { return stopping_; }
    int wakeDescriptor() const { return wake_; }
    void wake();
    void clearWake();
    std::vector<Bytes> takeInjections();

    // Reads what the host has sent on `fd` and answers every packet it completes. False when
    // the host has gone (end of file, an error, or an answer that could not be written).
    bool serve(int fd, ModuleFramer& framer, bool socket);
    // Writes all bytes, waiting at most WRITE_LIMIT for room; logs them under `direction`.
    bool send(int fd, const Bytes& bytes, bool socket, const char* direction);

    // Heartbeats: the poll time-out to use, and whether one is due now (which also schedules
    // the next). restartHeartbeat() starts the interval anew (a host has just connected).
    int pollTimeout(bool connected);
    bool heartbeatDue();
    void restartHeartbeat();

private:
    VirtualModule& module_;
    int wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex injectMutex_;
    std::vector<Bytes> injections_;
    uint32_t heartbeatMs_ = 0;
    std::chrono::steady_clock::time_point nextHeartbeat_;
};

} // namespace ksim

#endif

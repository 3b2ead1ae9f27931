// TcpEndpoint: a virtual module's network port: an IPv4 TCP listener serving one host connection at a time.
#ifndef SIM_MODULE_TCPENDPOINT_H
#define SIM_MODULE_TCPENDPOINT_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/module/Endpoint.h"

namespace ksim {

// A module has one network link, so a new connection replaces the current one (the old one is
// closed): a host that reconnects after losing its socket is served at once.
class TcpEndpoint : public Endpoint {
public:
    // How long resetConnections() waits for the endpoint's thread to carry the reset out.
    static constexpr std::chrono::milliseconds RESET_LIMIT{2000};

    // Listens on address:port (port 0: any free port) and starts serving.
    // std::runtime_error when the address is not IPv4 or cannot be listened on.
    TcpEndpoint(VirtualModule& module, const std::string& address, uint16_t port);
    ~TcpEndpoint() override;

    const std::string& address() const { return address_; }
    uint16_t port() const { return port_; }

    // Aborts the current connection (SO_LINGER 0, so the host sees ECONNRESET) and keeps
    // listening. Returns once done, or after RESET_LIMIT.
    void resetConnections();

    size_t connectionsAccepted() const { return accepted_; }
    bool connected() const { return connected_; }

private:
    void run() override;
    void accept(int& connection, ModuleFramer& framer);
    void drop(int& connection, bool abort);

    std::string address_;
    uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<size_t> accepted_{0};
    std::atomic<bool> connected_{false};

    std::mutex resetMutex_;
    std::condition_variable resetDone_;
    uint64_t resetsAsked_ = 0;
    uint64_t resetsDone_ = 0;
};

} // namespace ksim

#endif

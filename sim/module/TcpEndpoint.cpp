// TcpEndpoint: listening, accepting, serving and aborting the host's TCP connection.
#include "sim/module/TcpEndpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ksim {

TcpEndpoint::TcpEndpoint(VirtualModule& module, const std::string& address, uint16_t port)
    : Endpoint(module), address_(address)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        throw std::runtime_error("cannot listen on " + address + ": not an IPv4 address");
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    socklen_t size = sizeof where;
    if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener_, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        const std::string reason = std::strerror(errno);
        if (listener_ >= 0) {
            close(listener_);
        }
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " + reason);
    }
    port_ = ntohs(where.sin_port);
    start();
}

TcpEndpoint::~TcpEndpoint()
{
    stop();
    close(listener_);
}

void TcpEndpoint::resetConnections()
{
    std::unique_lock<std::mutex> lock(resetMutex_);
    const uint64_t ticket = ++resetsAsked_;
    wake();
    resetDone_.wait_for(lock, RESET_LIMIT, [&] { return resetsDone_ >= ticket; });
}

void TcpEndpoint::drop(int& connection, bool abort)
{
    if (connection < 0) {
        return;
    }
    if (abort) {
        const linger now{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    close(connection);
    connection = -1;
    connected_ = false;
}

void TcpEndpoint::accept(int& connection, ModuleFramer& framer)
{
    const int fresh = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fresh < 0) {
        return;
    }
    drop(connection, false);
    const int on = 1;
    setsockopt(fresh, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connection = fresh;
    framer.reset();
    restartHeartbeat();
    connected_ = true;
    ++accepted_;
}

void TcpEndpoint::run()
{
    int connection = -1;
    ModuleFramer framer;
    while (!stopping()) {
        pollfd polls[3] = {{wakeDescriptor(), POLLIN, 0}, {listener_, POLLIN, 0}, {connection, POLLIN, 0}};
        const int ready = poll(polls, connection >= 0 ? 3 : 2, pollTimeout(connection >= 0));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if ((polls[0].revents & POLLIN) != 0) {
            clearWake();
            {
                const std::lock_guard<std::mutex> lock(resetMutex_);
                if (resetsDone_ < resetsAsked_) {
                    drop(connection, true);
                    resetsDone_ = resetsAsked_;
                    resetDone_.notify_all();
                }
            }
            for (const Bytes& bytes : takeInjections()) {
                if (connection >= 0 && !send(connection, bytes, true, "inject")) {
                    drop(connection, false);
                }
            }
        }
        if ((polls[1].revents & POLLIN) != 0) {
            accept(connection, framer);
        }
        if (connection >= 0 && polls[2].fd == connection && (polls[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !serve(connection, framer, true)) {
            drop(connection, false);
        }
        if (connection >= 0 && heartbeatDue() && !send(connection, module().heartbeat().wire(), true, "tx")) {
            drop(connection, false);
        }
    }
    drop(connection, false);
    // Nobody waits for a reset once the endpoint is gone.
    const std::lock_guard<std::mutex> lock(resetMutex_);
    resetsDone_ = resetsAsked_;
    resetDone_.notify_all();
}

} // namespace ksim

// Endpoint: the thread, wake-up, heartbeat timing and read-answer-write path common to every transport.
#include "sim/module/Endpoint.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ksim {

Endpoint::Endpoint(VirtualModule& module) : module_(module), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (wake_ < 0) {
        throw std::runtime_error(std::string("cannot create the endpoint's wake-up descriptor: ") + std::strerror(errno));
    }
}

Endpoint::~Endpoint()
{
    close(wake_);
}

void Endpoint::start()
{
    restartHeartbeat();
    thread_ = std::thread([this] { run(); });
}

void Endpoint::stop()
{
    stopping_ = true;
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Endpoint::wake()
{
    const uint64_t one = 1;
    // A full counter already means "wake up", so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
}

void Endpoint::clearWake()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(wake_, &count, sizeof count);
}

void Endpoint::inject(Bytes bytes)
{
    {
        const std::lock_guard<std::mutex> lock(injectMutex_);
        injections_.push_back(std::move(bytes));
    }
    wake();
}

std::vector<Bytes> Endpoint::takeInjections()
{
    const std::lock_guard<std::mutex> lock(injectMutex_);
    std::vector<Bytes> taken;
    taken.swap(injections_);
    return taken;
}

bool Endpoint::serve(int fd, ModuleFramer& framer, bool socket)
{
    uint8_t buffer[4096];
    const ssize_t got = socket ? recv(fd, buffer, sizeof buffer, 0) : read(fd, buffer, sizeof buffer);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (got == 0) {
        return false;
    }
    for (ssize_t i = 0; i < got; ++i) {
        const std::optional<Packet> packet = framer.push(buffer[i]);
        const Bytes dropped = framer.takeDropped();
        if (!dropped.empty()) {
            module_.log("drop", dropped);
        }
        if (!packet) {
            continue;
        }
        for (const Packet& answer : module_.handle(*packet)) {
            if (!send(fd, answer.wire(), socket, "tx")) {
                return false;
            }
        }
    }
    return true;
}

bool Endpoint::send(int fd, const Bytes& bytes, bool socket, const char* direction)
{
    const auto deadline = std::chrono::steady_clock::now() + WRITE_LIMIT;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = socket ? ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                   : write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stopping_) {
            return false;
        }
        pollfd room{fd, POLLOUT, 0};
        poll(&room, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
    module_.log(direction, bytes);
    return true;
}

void Endpoint::restartHeartbeat()
{
    heartbeatMs_ = module_.heartbeatMs();
    nextHeartbeat_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(heartbeatMs_);
}

int Endpoint::pollTimeout(bool connected)
{
    if (module_.heartbeatMs() != heartbeatMs_) {
        restartHeartbeat();
    }
    if (!connected || heartbeatMs_ == 0) {
        return static_cast<int>(IDLE_POLL.count());
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(nextHeartbeat_ - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, IDLE_POLL.count()));
}

bool Endpoint::heartbeatDue()
{
    if (heartbeatMs_ == 0) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < nextHeartbeat_) {
        return false;
    }
    nextHeartbeat_ += std::chrono::milliseconds(heartbeatMs_);
    // A thread held up for longer than an interval sends one heartbeat, not a burst.
    if (nextHeartbeat_ <= now) {
        nextHeartbeat_ = now + std::chrono::milliseconds(heartbeatMs_);
    }
    return true;
}

} // namespace ksim

// PtyPeer: a raw pseudo-terminal master read with poll() and bounded waits.
#include "tests/support/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

PtyPeer::PtyPeer()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof(name)) != 0) {
        throw std::runtime_error("no pseudo-terminal name");
    }
    path_ = name;
    termios settings{};
    tcgetattr(master_, &settings);
    cfmakeraw(&settings);
    tcsetattr(master_, TCSANOW, &settings);
}

PtyPeer::~PtyPeer()
{
    if (master_ >= 0) {
        close(master_);
    }
}

void PtyPeer::send(const std::vector<uint8_t>& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno != EINTR) {
            throw std::runtime_error("pseudo-terminal write failed");
        }
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

std::vector<uint8_t> PtyPeer::receive(size_t count, std::chrono::milliseconds limit)
{
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd poller = {master_, POLLIN, 0};
        if (poll(&poller, 1, static_cast<int>(left.count())) <= 0 || (poller.revents & POLLIN) == 0) {
            continue;
        }
        uint8_t buffer[256];
        const size_t want = count - bytes.size() < sizeof(buffer) ? count - bytes.size() : sizeof(buffer);
        const ssize_t n = read(master_, buffer, want);
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    return bytes;
}

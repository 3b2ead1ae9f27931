// PtyPeer: a raw pseudo-terminal master, read with bounded waits.
#include "tests/support/PtyPeer.h"

#include "tests/support/WireBytes.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

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
    if (!WriteBytes(master_, bytes)) {
        throw std::runtime_error("pseudo-terminal write failed");
    }
}

std::vector<uint8_t> PtyPeer::receive(size_t count, std::chrono::milliseconds limit)
{
    return ReadBytes(master_, count, limit);
}

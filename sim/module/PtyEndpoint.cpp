// PtyEndpoint: opening the pseudo-terminal raw, noticing the host open and close it, and serving it.
#include "sim/module/PtyEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ksim {

namespace {

[[noreturn]] void _fail(const std::string& what, int master, int watch)
{
    const std::string reason = std::strerror(errno);
    if (watch >= 0) {
        close(watch);
    }
    if (master >= 0) {
        close(master);
    }
    throw std::runtime_error("cannot open a pseudo-terminal: " + what + ": " + reason);
}

} // namespace

PtyEndpoint::PtyEndpoint(VirtualModule& module) : Endpoint(module)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        _fail("posix_openpt", master_, watch_);
    }
    char name[128];
    if (fcntl(master_, F_SETFL, O_NONBLOCK) != 0 || fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 || grantpt(master_) != 0 ||
        unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        _fail("grantpt/unlockpt/ptsname", master_, watch_);
    }
    path_ = name;
    // Settings made on the master apply to the line the host reads and writes: raw, so no byte
    // is translated, swallowed or echoed.
    termios raw{};
    if (tcgetattr(master_, &raw) != 0) {
        _fail("tcgetattr", master_, watch_);
    }
    cfmakeraw(&raw);
    if (tcsetattr(master_, TCSANOW, &raw) != 0) {
        _fail("tcsetattr", master_, watch_);
    }
    // Until the slave has been opened once the master buffers what is written; open and close
    // it here so the line starts in the same "no host" state it returns to after each host.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        _fail(path_, master_, watch_);
    }
    close(slave);
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, name, IN_OPEN) < 0) {
        _fail("inotify on " + path_, master_, watch_);
    }
    start();
}

PtyEndpoint::~PtyEndpoint()
{
    stop();
    close(watch_);
    close(master_);
}

bool PtyEndpoint::checkAttached()
{
    pollfd line{master_, POLLIN, 0};
    poll(&line, 1, 0);
    return (line.revents & POLLHUP) == 0;
}

void PtyEndpoint::run()
{
    ModuleFramer framer;
    bool attached = false;
    // Every open of the line starts a host session: nothing half-received carries over into it.
    const auto update = [&](bool now, bool opened) {
        if (now && (opened || !attached)) {
            framer.reset();
            restartHeartbeat();
        }
        attached = now;
        attached_ = now;
    };
    while (!stopping()) {
        // While detached the master reports POLLHUP without end, so it is left out of the poll
        // and the inotify descriptor tells when a host opens the slave.
        pollfd polls[3] = {{wakeDescriptor(), POLLIN, 0}, {watch_, POLLIN, 0}, {master_, POLLIN, 0}};
        const int ready = poll(polls, attached ? 3 : 2, pollTimeout(attached));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if ((polls[1].revents & POLLIN) != 0) {
            char events[4096];
            while (read(watch_, events, sizeof events) > 0) {
            }
            update(checkAttached(), true);
        }
        if ((polls[0].revents & POLLIN) != 0) {
            clearWake();
            const std::vector<Bytes> injections = takeInjections();
            if (!injections.empty()) {
                update(checkAttached(), false);
            }
            for (const Bytes& bytes : injections) {
                if (attached) {
                    send(master_, bytes, false, "inject");
                }
            }
        }
        if (attached && (polls[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            // Reading after the host closed fails with EIO; serve() reports that as gone.
            if (!serve(master_, framer, false)) {
                update(checkAttached(), false);
            }
        }
        if (attached && heartbeatDue()) {
            send(master_, module().heartbeat().wire(), false, "tx");
        }
    }
}

} // namespace ksim

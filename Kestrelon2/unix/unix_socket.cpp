// unix_socket: IPv4 TCP sockets over the BSD-socket calls, with errno mapped to aErr codes.
#include "Kestrelon2/unix/unix_socket.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_time.h"

static aErr sConnectError(int error)
{
    switch (error) {
    case EAGAIN:
    case ECONNRESET:
    case ETIMEDOUT:
    case ECONNREFUSED:
        return aErrConnection;
    default:
        return aErrIO;
    }
}

// A receive call's result: count is what recv returned, error the errno it left.
static aErr sReceiveResult(ssize_t count, int error)
{
    if (count > 0) {
        return aErrNone;
    }
    if (count == 0) {
        return aErrEOF;
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        return aErrNotReady;
    }
    if (error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT) {
        return aErrConnection;
    }
    return aErrIO;
}

// poll with a deadline, going on after signals; the result of the last poll call.
static int sPollUntil(pollfd* entry, uint32_t msTimeout)
{
    const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
    for (;;) {
        const uint64_t now = aTime_GetMonotonicMS();
        const uint64_t remaining = deadline > now ? deadline - now : 0;
        const int ready = poll(entry, 1, static_cast<int>(std::min<uint64_t>(remaining, INT_MAX)));
        if (ready > 0 || (ready < 0 && errno != EINTR) || (ready == 0 && remaining <= INT_MAX)) {
            return ready;
        }
    }
}

aErr aSocket_OpenTCP(int* socket)
{
    if (socket == nullptr) {
        return aErrParam;
    }
    const int created = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (created < 0) {
        return aErrIO;
    }
    *socket = created;
    return aErrNone;
}

// Switches the descriptor's O_NONBLOCK flag; false when the flags cannot be read or set.
static bool sSetNonBlocking(int socket, bool on)
{
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

aErr aSocket_Connect(int socket, const aSocketAddress& address, uint32_t msTimeout)
{
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(address.port);
    target.sin_addr.s_addr = address.ip;
    if (!sSetNonBlocking(socket, true)) {
        return aErrIO;
    }
    int error = 0;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        error = errno;
    }
    if (error == EINPROGRESS || error == EINTR) {
        // The connection goes on in the background; its outcome shows once the socket turns
        // writable, or nothing shows by the deadline.
        const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
        int ready = 0;
        for (;;) {
            const uint64_t now = aTime_GetMonotonicMS();
            pollfd entry = {socket, POLLOUT, 0};
            ready = poll(&entry, 1, now < deadline ? static_cast<int>(std::min<uint64_t>(deadline - now, INT_MAX)) : 0);
            if (ready >= 0 || errno != EINTR) {
                break;
            }
        }
        socklen_t size = sizeof(error);
        if (ready == 0) {
            error = ETIMEDOUT;
        } else if (ready < 0 || getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            error = EIO;
        }
    }
    if (!sSetNonBlocking(socket, false) && error == 0) {
        return aErrIO;
    }
    return error == 0 ? aErrNone : sConnectError(error);
}

aErr aSocket_SetStreamOptions(int socket)
{
    const int noDelay = 1;
    const timeval noTimeout = {0, 0};
    const linger resetOnClose = {1, 0};
    int nonBlocking = 1;
    if (setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay)) != 0
        || setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof(noTimeout)) != 0
        || setsockopt(socket, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof(resetOnClose)) != 0
        || ioctl(socket, FIONBIO, &nonBlocking) != 0) {
        return aErrIO;
    }
    return aErrNone;
}

aErr aSocket_PeekByte(int socket)
{
    uint8_t byte;
    const ssize_t count = recv(socket, &byte, 1, MSG_PEEK);
    return sReceiveResult(count, errno);
}

aErr aSocket_ReceiveByte(int socket, uint8_t* byte)
{
    if (byte == nullptr) {
        return aErrParam;
    }
    const ssize_t count = recv(socket, byte, 1, 0);
    return sReceiveResult(count, errno);
}

aErr aSocket_Send(int socket, const uint8_t* data, size_t length, size_t* sent)
{
    if ((data == nullptr && length > 0) || sent == nullptr) {
        return aErrParam;
    }
    const ssize_t count = send(socket, data, length, MSG_NOSIGNAL);
    if (count >= 0) {
        *sent = static_cast<size_t>(count);
        return aErrNone;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return aErrBusy;
    }
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) {
        return aErrConnection;
    }
    return aErrIO;
}

aErr aSocket_WaitReadable(int socket, uint32_t msTimeout)
{
    // poll would skip a negative descriptor and merely sleep.
    if (socket < 0) {
        return aErrParam;
    }
    pollfd entry = {socket, POLLIN, 0};
    const int ready = sPollUntil(&entry, msTimeout);
    if (ready < 0 || (entry.revents & POLLNVAL) != 0) {
        return aErrIO;
    }
    return ready > 0 ? aErrNone : aErrNotReady;
}

aErr aSocket_Close(int* socket)
{
    if (socket == nullptr || *socket == aSOCKET_NONE) {
        return aErrParam;
    }
    const int closed = close(*socket);
    *socket = aSOCKET_NONE;
    return closed == 0 ? aErrNone : aErrIO;
}

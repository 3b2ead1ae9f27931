// unix_socket: the BSD-socket calls of the TCP stream, with OS errors turned into the aErr codes its reconnect logic acts on.
#ifndef KESTRELON2_UNIX_UNIX_SOCKET_H
#define KESTRELON2_UNIX_UNIX_SOCKET_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// The value of a descriptor variable that holds no socket.
inline constexpr int aSOCKET_NONE = -1;

// An IPv4 endpoint: the address in network byte order, the port in host order.
struct aSocketAddress {
    uint32_t ip;
    uint16_t port;
};

// A new IPv4 TCP socket in *socket. aErrParam for a null out pointer; aErrIO when the OS gives
// none.
aErr aSocket_OpenTCP(int* socket);

// Connects the socket to the endpoint, waiting at most msTimeout for the connection to be made or
// refused: a host that has gone answers nothing, and the kernel alone would wait minutes.
// aErrConnection when the peer refused, reset or did not answer in time, or the OS had no local
// port left (worth retrying later); aErrIO for anything else (bad descriptor, no route, ...).
// The socket is left in blocking mode.
aErr aSocket_Connect(int socket, const aSocketAddress& address, uint32_t msTimeout);

// Readies a connected socket for the stream: no send coalescing (TCP_NODELAY), no receive time-out,
// linger on with 0 seconds so that closing resets the connection at once, and non-blocking mode.
// aErrIO when any of them cannot be set.
aErr aSocket_SetStreamOptions(int socket);

// Looks at the next byte without taking it. aErrNone when one waits; aErrNotReady when none has
// come yet; aErrEOF when the peer closed the connection in order (nothing more will come);
// aErrConnection when the connection was reset, is not connected or timed out; aErrIO otherwise.
aErr aSocket_PeekByte(int socket);

// Takes the next byte into *byte. Results as for aSocket_PeekByte; aErrParam for a null byte.
aErr aSocket_ReceiveByte(int socket, uint8_t* byte);

// Sends what the socket buffer takes of length bytes without raising SIGPIPE; the count sent is
// stored in *sent on aErrNone (it may be short). aErrParam for a null pointer; aErrBusy when the
// buffer takes nothing now (full, or the call was interrupted); aErrConnection when the peer is
// gone (broken pipe, reset, not connected); aErrIO otherwise.
aErr aSocket_Send(int socket, const uint8_t* data, size_t length, size_t* sent);

// Blocks until the socket is readable, at most msTimeout milliseconds; signals do not cut the
// wait short. aErrNone when a byte, an orderly close, a hang-up or an error is there to be read;
// aErrNotReady when the time ran out; aErrParam for aSOCKET_NONE or another negative descriptor;
// aErrIO when the socket cannot be polled.
aErr aSocket_WaitReadable(int socket, uint32_t msTimeout);

// Closes *socket and sets it to aSOCKET_NONE. aErrParam for a null pointer or no socket; aErrIO
// when the close reported an error (the descriptor is released all the same).
aErr aSocket_Close(int* socket);

#endif

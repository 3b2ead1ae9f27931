// aStreamsocket: the stream over a TCP connection to a module's network port, reconnecting by itself when the connection drops.
#ifndef KESTRELON2_COMMON_ASTREAMSOCKET_H
#define KESTRELON2_COMMON_ASTREAMSOCKET_H

#include <cstdint>

#include "Kestrelon2/common/aStream.h"

// Connects to ipAddress (IPv4, network byte order) at port (host order) and returns a stream
// with get, put, write, wait and delete in *stream. aErrResource with *stream null on any
// failure (null out pointer, memory, connection).
aErr aStream_CreateSocket(uint32_t ipAddress, uint32_t port, aStream** stream);

#endif

// aStreamsocket: the TCP stream to a module's network port, reconnecting inside get and write when the connection drops.
#include "Kestrelon2/common/aStreamsocket.h"

#include <atomic>
#include <new>

#include "Kestrelon2/unix/unix_socket.h"
#include "Kestrelon2/unix/unix_time.h"

static constexpr uint16_t sSocketCheck = 0xDEAD;
static constexpr uint32_t sFlagConnected = 0x1;
static constexpr uint32_t sHighestPort = 0xFFFF;

// Pause after closing, so that a reconnect does not hit the peer before it has let go.
static constexpr uint32_t sCloseSettleMS = 10;
// A module on the network answers a connection at once; one that has gone answers nothing, and
// every read and write of the link would wait on it.
static constexpr uint32_t sConnectTimeoutMS = 3000;

// A write that makes no progress is tried this often, this far apart, before it gives up.
static constexpr unsigned sWriteRetries = 10;
static constexpr uint32_t sWriteRetryMS = 60;

// The input pipe reads and the output pipe writes at the same time, and either may reconnect;
// the descriptor and the flags are therefore atomic.
struct sSocketStream {
    uint32_t port;
    aSocketAddress address;
    std::atomic<int> socket;
    std::atomic<uint32_t> flags;
    uint16_t check;
};

static sSocketStream* sValidSocket(void* procRef)
{
    auto* stream = static_cast<sSocketStream*>(procRef);
    return stream != nullptr && stream->check == sSocketCheck ? stream : nullptr;
}

static bool sConnected(const sSocketStream* stream)
{
    return (stream->flags.load() & sFlagConnected) != 0;
}

static void sSocketStreamClose(sSocketStream* stream)
{
    stream->flags.fetch_and(~sFlagConnected);
    int socket = stream->socket.exchange(aSOCKET_NONE);
    if (socket != aSOCKET_NONE) {
        aSocket_Close(&socket);
    }
    aTime_MSSleep(sCloseSettleMS);
}

static aErr sSocketStreamSetOptions(const sSocketStream* stream)
{
    return aSocket_SetStreamOptions(stream->socket.load());
}

static aErr sSocketStreamReset(sSocketStream* stream)
{
    if (stream == nullptr || stream->check != sSocketCheck) {
        return aErrInitialization;
    }
    if (stream->socket.load() != aSOCKET_NONE) {
        sSocketStreamClose(stream);
    }
    int socket = aSOCKET_NONE;
    if (aSocket_OpenTCP(&socket) != aErrNone) {
        return aErrIO;
    }
    const aErr connected = aSocket_Connect(socket, stream->address, sConnectTimeoutMS);
    if (connected != aErrNone) {
        aSocket_Close(&socket);
        return connected;
    }
    stream->socket.store(socket);
    stream->flags.fetch_or(sFlagConnected);
    // A socket that would block or linger is no use to the stream: drop it.
    if (sSocketStreamSetOptions(stream) != aErrNone) {
        sSocketStreamClose(stream);
        return aErrIO;
    }
    return aErrNone;
}

// An orderly close by the peer reads as "nothing yet": only a write finds out, and reconnects.
static aErr sSocketStreamGet(uint8_t* byte, void* procRef)
{
    sSocketStream* stream = sValidSocket(procRef);
    if (stream == nullptr || byte == nullptr) {
        return aErrParam;
    }
    if (!sConnected(stream)) {
        return aErrConnection;
    }
    aErr peeked = aSocket_PeekByte(stream->socket.load());
    if (peeked == aErrConnection) {
        stream->flags.fetch_and(~sFlagConnected);
        const aErr reset = sSocketStreamReset(stream);
        if (reset != aErrNone) {
            return reset;
        }
        peeked = aSocket_PeekByte(stream->socket.load());
    }
    if (peeked == aErrNotReady || peeked == aErrEOF) {
        return aErrNotReady;
    }
    if (peeked != aErrNone || aSocket_ReceiveByte(stream->socket.load(), byte) != aErrNone) {
        return aErrConnection;
    }
    return aErrNone;
}

// One attempt at sending what remains; a peer that closed in order is treated like a dropped
// connection, so that the bytes go to a new connection instead of into a socket nobody reads.
static aErr sSocketStreamSendOnce(sSocketStream* stream, const uint8_t* data, size_t length,
                                  size_t* sent)
{
    if (!sConnected(stream) || aSocket_PeekByte(stream->socket.load()) == aErrEOF) {
        return aErrConnection;
    }
    return aSocket_Send(stream->socket.load(), data, length, sent);
}

static aErr sSocketStreamWrite(const uint8_t* data, size_t length, void* procRef)
{
    sSocketStream* stream = sValidSocket(procRef);
    if (stream == nullptr || (data == nullptr && length > 0)) {
        return aErrParam;
    }
    if (!sConnected(stream)) {
        return aErrConnection;
    }
    size_t done = 0;
    unsigned retries = 0;
    aErr lastFailure = aErrNone;
    while (done < length) {
        size_t sent = 0;
        const aErr attempt = sSocketStreamSendOnce(stream, data + done, length - done, &sent);
        if (attempt == aErrNone) {
            done += sent;
            retries = 1;
        } else if (attempt == aErrBusy) {
            ++retries;
            lastFailure = aErrBusy;
        } else if (attempt == aErrConnection) {
            stream->flags.fetch_and(~sFlagConnected);
            const aErr reset = sSocketStreamReset(stream);
            ++retries;
            lastFailure = reset == aErrNone ? aErrConnection : reset;
        } else {
            ++retries;
            lastFailure = aErrIO;
        }
        if (done < length) {
            if (retries >= sWriteRetries) {
                return lastFailure;
            }
            aTime_MSSleep(sWriteRetryMS);
        }
    }
    return aErrNone;
}

static aErr sSocketStreamPut(const uint8_t* byte, void* procRef)
{
    return sSocketStreamWrite(byte, 1, procRef);
}

static void sSleepUntil(uint64_t deadline)
{
    const uint64_t now = aTime_GetMonotonicMS();
    if (deadline > now) {
        aTime_MSSleep(static_cast<uint32_t>(deadline - now));
    }
}

// Returns only when a get may deliver: a connection the peer closed in order is readable at once
// and for ever, yet a get would find nothing, so the wait sleeps out its time instead.
static aErr sSocketStreamWait(uint32_t msTimeout, void* procRef)
{
    sSocketStream* stream = sValidSocket(procRef);
    if (stream == nullptr) {
        return aErrParam;
    }
    const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
    const int socket = stream->socket.load();
    if (!sConnected(stream) || socket == aSOCKET_NONE) {
        sSleepUntil(deadline);
        return aErrNotReady;
    }
    const aErr readable = aSocket_WaitReadable(socket, msTimeout);
    if (readable != aErrNone) {
        return readable;
    }
    if (aSocket_PeekByte(socket) == aErrEOF) {
        sSleepUntil(deadline);
        return aErrNotReady;
    }
    return aErrNone;
}

static aErr sSocketStreamDelete(void* procRef)
{
    sSocketStream* stream = sValidSocket(procRef);
    if (stream == nullptr) {
        return aErrIO;
    }
    sSocketStreamClose(stream);
    stream->flags.store(0);
    stream->check = 0;
    delete stream;
    return aErrNone;
}

aErr aStream_CreateSocket(uint32_t ipAddress, uint32_t port, aStream** stream)
{
    if (stream == nullptr) {
        return aErrResource;
    }
    *stream = nullptr;
    // A port beyond 16 bits would be cut down to some other port.
    if (port > sHighestPort) {
        return aErrResource;
    }
    auto* socketStream = new (std::nothrow) sSocketStream{};
    if (socketStream == nullptr) {
        return aErrResource;
    }
    socketStream->port = port;
    socketStream->address = {ipAddress, static_cast<uint16_t>(port)};
    socketStream->socket.store(aSOCKET_NONE);
    socketStream->check = sSocketCheck;
    if (sSocketStreamReset(socketStream) != aErrNone) {
        sSocketStreamDelete(socketStream);
        return aErrResource;
    }
    aStream* created = aStream_Create(sSocketStreamGet, sSocketStreamPut, sSocketStreamWrite,
                                      sSocketStreamDelete, socketStream);
    if (created == nullptr) {
        sSocketStreamDelete(socketStream);
        return aErrResource;
    }
    // Cannot fail: the stream was just made.
    aStream_SetWaitProc(created, sSocketStreamWait);
    *stream = created;
    return aErrNone;
}

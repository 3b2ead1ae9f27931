// unix_streamserial: the stream over a serial line: a raw termios line read without blocking, written until transmitted.
#include "Kestrelon2/unix/unix_streamserial.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_time.h"

static constexpr uint16_t sSerialCheck = 0xBEEF;

// Longest device path, in characters, the stream keeps.
static constexpr size_t sMaxPortPath = 4096;

static const speed_t sSpeeds[] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};

struct sSerialStream {
    uint32_t speedCode;
    char portPath[sMaxPortPath + 1];
    int fd; // -1 while closed: descriptor 0 is a real descriptor when standard input was closed
    termios savedSettings;
    termios lineSettings;
    uint16_t check;
};

static sSerialStream* sValidSerial(void* procRef)
{
    auto* serial = static_cast<sSerialStream*>(procRef);
    return serial != nullptr && serial->check == sSerialCheck ? serial : nullptr;
}

static speed_t sSpeedForCode(uint32_t speedCode)
{
    return speedCode < std::size(sSpeeds) ? sSpeeds[speedCode] : B0;
}

static aErr sOpenError(int error)
{
    switch (error) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
        return aErrPermission;
    default:
        return aErrIO;
    }
}

static termios sRawSettings(const termios& found, uint32_t speedCode, uint8_t parity,
                            uint8_t dataBits, uint8_t stopBits)
{
    termios settings = found;
    settings.c_iflag = IGNBRK | (parity != 0 ? IGNPAR : 0);
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = CREAD | CLOCAL | (parity != 0 ? PARENB : 0) | (dataBits == 0 ? CS8 : CS7)
                       | (stopBits != 0 ? CSTOPB : 0);
    cfsetispeed(&settings, sSpeedForCode(speedCode));
    cfsetospeed(&settings, sSpeedForCode(speedCode));
    // A read returns at once, with or without data; waiting is the wait operation's business.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return settings;
}

// The descriptor joins the record only once the settings found on the line are saved, so that a
// delete after a failed open never writes settings the line did not have.
static aErr sStreamOpenSerial(sSerialStream* serial, uint8_t parity, uint8_t dataBits,
                              uint8_t stopBits)
{
    const int fd = open(serial->portPath, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return sOpenError(errno);
    }
    // Opened without blocking so that a line without carrier does not hold the open; blocking
    // from here on.
    if (fcntl(fd, F_SETFL, 0) != 0 || tcgetattr(fd, &serial->savedSettings) != 0) {
        close(fd);
        return aErrIO;
    }
    serial->fd = fd;
    serial->lineSettings = sRawSettings(serial->savedSettings, serial->speedCode, parity, dataBits,
                                        stopBits);
    if (tcsetattr(fd, TCSANOW, &serial->lineSettings) != 0 || tcflush(fd, TCIOFLUSH) != 0) {
        return aErrIO;
    }
    return aErrNone;
}

// A line that was hung up (adapter unplugged, far end of a pseudo-terminal closed) reads as empty
// with VMIN and VTIME at 0, just like an idle line; only poll tells the two apart. Without this
// the get would report "nothing yet" for ever while the wait returns at once: a reader would spin.
static bool sHungUp(int fd)
{
    pollfd entry = {fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

static aErr sSerialGet(uint8_t* byte, void* procRef)
{
    sSerialStream* serial = sValidSerial(procRef);
    if (serial == nullptr || byte == nullptr) {
        return aErrParam;
    }
    const ssize_t count = read(serial->fd, byte, 1);
    if (count == 1) {
        return aErrNone;
    }
    if (count == 0) {
        return sHungUp(serial->fd) ? aErrIO : aErrNotReady;
    }
    return errno == EINTR ? aErrNotReady : aErrIO;
}

static aErr sSerialWrite(const uint8_t* data, size_t length, void* procRef)
{
    sSerialStream* serial = sValidSerial(procRef);
    if (serial == nullptr || (data == nullptr && length > 0)) {
        return aErrParam;
    }
    const ssize_t count = write(serial->fd, data, length);
    if (count < 0 || static_cast<size_t>(count) != length) {
        return aErrIO;
    }
    int drained;
    do {
        drained = tcdrain(serial->fd);
    } while (drained != 0 && errno == EINTR);
    return drained == 0 ? aErrNone : aErrIO;
}

static aErr sSerialPut(const uint8_t* byte, void* procRef)
{
    return sSerialWrite(byte, 1, procRef);
}

// A hang-up or error counts as readable: the get that follows reports it, and the caller decides
// how long to pause after a failure.
static aErr sSerialWait(uint32_t msTimeout, void* procRef)
{
    sSerialStream* serial = sValidSerial(procRef);
    if (serial == nullptr) {
        return aErrParam;
    }
    const uint64_t deadline = aTime_GetMonotonicMS() + msTimeout;
    for (;;) {
        const uint64_t now = aTime_GetMonotonicMS();
        const uint64_t remaining = deadline > now ? deadline - now : 0;
        pollfd entry = {serial->fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(std::min<uint64_t>(remaining, INT_MAX)));
        if (ready > 0) {
            return aErrNone;
        }
        if (ready < 0 && errno != EINTR) {
            return aErrIO;
        }
        if (ready == 0 && remaining <= INT_MAX) {
            return aErrNotReady;
        }
    }
}

static aErr sSerialDelete(void* procRef)
{
    sSerialStream* serial = sValidSerial(procRef);
    if (serial == nullptr) {
        return aErrParam;
    }
    if (serial->fd >= 0) {
        tcsetattr(serial->fd, TCSANOW, &serial->savedSettings);
        close(serial->fd);
        serial->fd = -1;
        std::memset(&serial->savedSettings, 0, sizeof(serial->savedSettings));
    }
    serial->check = 0;
    delete serial;
    return aErrNone;
}

aErr aStream_CreateSerial(const char* portPath, uint32_t speedCode, uint8_t parity,
                          uint8_t dataBits, uint8_t stopBits, aStream** stream)
{
    if (stream != nullptr) {
        *stream = nullptr;
    }
    if (portPath == nullptr || stream == nullptr || dataBits > 1 || stopBits > 1
        || strnlen(portPath, sMaxPortPath + 1) > sMaxPortPath) {
        return aErrResource;
    }
    auto* serial = new (std::nothrow) sSerialStream{};
    if (serial == nullptr) {
        return aErrResource;
    }
    serial->speedCode = speedCode;
    std::strcpy(serial->portPath, portPath);
    serial->fd = -1;
    serial->check = sSerialCheck;
    aStream* created = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, serial);
    if (created == nullptr) {
        sSerialDelete(serial);
        return aErrResource;
    }
    // Cannot fail: the stream was just made.
    aStream_SetWaitProc(created, sSerialWait);
    const aErr opened = sStreamOpenSerial(serial, parity, dataBits, stopBits);
    if (opened != aErrNone) {
        aStream_Destroy(&created);
        return opened;
    }
    *stream = created;
    return aErrNone;
}

// WireBytes: poll()-bounded reads and whole writes at a descriptor, and waited reads of a stream.
#include "tests/support/WireBytes.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds limit, int* error)
{
    std::vector<uint8_t> bytes;
    if (error != nullptr) {
        *error = 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        uint8_t buffer[256];
        const ssize_t n = read(fd, buffer, std::min(sizeof(buffer), count - bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (error != nullptr && n < 0) {
                *error = errno;
            }
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

bool WriteBytes(int fd, const std::vector<uint8_t>& bytes)
{
    struct stat info {};
    const bool socket = fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = socket ? send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)
                                 : write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> ReadStream(aStream* stream, size_t count, std::chrono::milliseconds limit)
{
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (aStream_Wait(stream, 100) != aErrNone) {
            continue;
        }
        uint8_t byte = 0;
        if (aStream_Read(stream, &byte, 1) == aErrNone) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

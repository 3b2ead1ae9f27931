// WireBytes: a test's bytes read from or written to a descriptor or a stream, every read bounded in time.
#ifndef TESTS_SUPPORT_WIREBYTES_H
#define TESTS_SUPPORT_WIREBYTES_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Kestrelon2/common/aStream.h"

// Reads until count bytes have come, the limit has passed or the descriptor ends (a socket, a
// pseudo-terminal, a pipe); returns what came. *error gets the errno of a failed read, 0 else.
std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds limit = std::chrono::seconds(2),
                               int* error = nullptr);

// Writes every byte (a socket never raises SIGPIPE); false when the descriptor refuses them.
bool WriteBytes(int fd, const std::vector<uint8_t>& bytes);

// Reads count bytes from the stream one by one, waiting on it between bytes, until the limit.
std::vector<uint8_t> ReadStream(aStream* stream, size_t count,
                                std::chrono::milliseconds limit = std::chrono::seconds(2));

#endif

// PtyPeer: the far end of a pseudo-terminal, for tests that play a device on a serial line byte by byte.
#ifndef TESTS_SUPPORT_PTYPEER_H
#define TESTS_SUPPORT_PTYPEER_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPeer {
public:
    // Opens a pseudo-terminal pair; the code under test opens path(). Throws when none can be had.
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& path() const { return path_; }

    // Writes the bytes to the line.
    void send(const std::vector<uint8_t>& bytes);

    // Reads until count bytes have come or the limit has passed; returns what came.
    std::vector<uint8_t> receive(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(3));

private:
    int master_ = -1;
    std::string path_;
};

#endif

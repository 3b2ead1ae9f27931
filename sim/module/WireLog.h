// WireLog: the virtual modules' packet log file, one flushed line per packet.
#ifndef SIM_MODULE_WIRELOG_H
#define SIM_MODULE_WIRELOG_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "sim/module/Packet.h"

namespace ksim {

// Lines read "<ms since the log was opened> <serial %08X> <direction> <bytes as %02X>", e.g.
// "152 5EED0001 rx 02 03 05 40 20". Directions: rx (a packet framed from the host), tx (a
// packet sent to the host), drop (bytes the framer threw away), inject (raw bytes sent on
// request). Several modules may share one log; each line is written whole.
class WireLog {
public:
    // Creates or truncates the file; std::runtime_error when it cannot be opened.
    explicit WireLog(const std::string& path);
    ~WireLog();
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    void write(uint32_t serialNumber, const char* direction, const Bytes& bytes);

private:
    std::mutex mutex_;
    FILE* file_;
    const std::chrono::steady_clock::time_point start_;
};

} // namespace ksim

#endif

// WireLog: formats and flushes packet log lines.
#include "sim/module/WireLog.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ksim {

WireLog::WireLog(const std::string& path)
    : file_(std::fopen(path.c_str(), "w")), start_(std::chrono::steady_clock::now())
{
    if (file_ == nullptr) {
        throw std::runtime_error("cannot open the packet log " + path + ": " + std::strerror(errno));
    }
}

WireLog::~WireLog()
{
    std::fclose(file_);
}

void WireLog::write(uint32_t serialNumber, const char* direction, const Bytes& bytes)
{
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
    char head[64];
    std::snprintf(head, sizeof head, "%lld %08X %s", static_cast<long long>(elapsed), serialNumber, direction);
    std::string line = head;
    for (const uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    line += '\n';
    const std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
}

} // namespace ksim

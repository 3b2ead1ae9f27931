// PtyEndpoint: a virtual module's serial line: a pseudo-terminal whose slave side the host opens as its serial port.
#ifndef SIM_MODULE_PTYENDPOINT_H
#define SIM_MODULE_PTYENDPOINT_H

#include <atomic>
#include <string>

#include "sim/module/Endpoint.h"

namespace ksim {

// The module counts as attached while the host holds the slave side open. Nothing is written
// while no host is attached (a real line would lose those bytes too; a pty would keep them
// for the next host to trip over), heartbeats included.
class PtyEndpoint : public Endpoint {
public:
    // Opens the pseudo-terminal in raw mode and starts serving. std::runtime_error when the
    // system has no pseudo-terminal to give.
    explicit PtyEndpoint(VirtualModule& module);
    ~PtyEndpoint() override;

    // The slave side, e.g. /dev/pts/7.
    const std::string& path() const { return path_; }
    bool attached() const { return attached_; }

private:
    void run() override;
    // Looks whether a host holds the slave open now.
    bool checkAttached();

    int master_ = -1;
    int watch_ = -1; // inotify descriptor: tells when someone opens the slave
    std::string path_;
    std::atomic<bool> attached_{false};
};

} // namespace ksim

#endif

// Simulator: the virtual modules of one kestrelon-sim run with their endpoints and shared packet logs.
#ifndef SIM_MODULE_SIMULATOR_H
#define SIM_MODULE_SIMULATOR_H

#include <memory>
#include <string>
#include <vector>

#include "sim/module/ModuleConfig.h"
#include "sim/module/PtyEndpoint.h"
#include "sim/module/TcpEndpoint.h"
#include "sim/module/VirtualModule.h"
#include "sim/module/WireLog.h"

namespace ksim {

class Simulator {
public:
    // Starts every module's endpoints; std::runtime_error (naming the module) when one cannot
    // be opened. Modules naming the same log file share it.
    explicit Simulator(const std::vector<ModuleConfig>& modules);

    // One line per endpoint, in configuration order: "module 5EED0001 tcp 127.0.0.1:40123",
    // "module 5EED0002 pty /dev/pts/7".
    const std::vector<std::string>& endpointLines() const { return lines_; }

    // Aborts every module's current TCP connection.
    void resetConnections();

    VirtualModule& module(size_t index) const { return *modules_.at(index); }
    size_t moduleCount() const { return modules_.size(); }

private:
    std::vector<std::shared_ptr<WireLog>> logs_;
    std::vector<std::unique_ptr<VirtualModule>> modules_;
    // Declared after the modules: endpoints stop before the modules they serve go away.
    std::vector<std::unique_ptr<TcpEndpoint>> tcp_;
    std::vector<std::unique_ptr<PtyEndpoint>> pty_;
    std::vector<std::string> lines_;
};

} // namespace ksim

#endif

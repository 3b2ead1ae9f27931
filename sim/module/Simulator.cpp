// Simulator: builds modules, logs and endpoints from the configuration and names the endpoints.
#include "sim/module/Simulator.h"

#include <cstdio>
#include <map>
#include <stdexcept>

namespace ksim {

Simulator::Simulator(const std::vector<ModuleConfig>& modules)
{
    std::map<std::string, std::shared_ptr<WireLog>> logs;
    for (const ModuleConfig& config : modules) {
        char serial[9];
        std::snprintf(serial, sizeof serial, "%08X", config.serialNumber);
        const std::string who = std::string("module ") + serial;
        try {
            std::shared_ptr<WireLog> log;
            if (!config.logPath.empty()) {
                std::shared_ptr<WireLog>& shared = logs[config.logPath];
                if (!shared) {
                    shared = std::make_shared<WireLog>(config.logPath);
                    logs_.push_back(shared);
                }
                log = shared;
            }
            modules_.push_back(std::make_unique<VirtualModule>(config, log));
            if (config.tcp) {
                tcp_.push_back(std::make_unique<TcpEndpoint>(*modules_.back(), config.tcpAddress, config.tcpPort));
                lines_.push_back(who + " tcp " + config.tcpAddress + ":" + std::to_string(tcp_.back()->port()));
            }
            if (config.pty) {
                pty_.push_back(std::make_unique<PtyEndpoint>(*modules_.back()));
                lines_.push_back(who + " pty " + pty_.back()->path());
            }
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(who + ": " + e.what());
        }
    }
}

void Simulator::resetConnections()
{
    for (const std::unique_ptr<TcpEndpoint>& endpoint : tcp_) {
        endpoint->resetConnections();
    }
}

} // namespace ksim

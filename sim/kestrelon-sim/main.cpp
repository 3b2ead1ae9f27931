// kestrelon-sim: starts the virtual modules from flags or a config file, prints their endpoints, and takes commands on standard input until told to stop.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/module/ModuleConfig.h"
#include "sim/module/Simulator.h"

namespace {

constexpr int EXIT_USAGE = 2;

const char* const USAGE =
    "Usage: kestrelon-sim [MODULE FLAG]...\n"
    "       kestrelon-sim --config FILE\n"
    "       kestrelon-sim -h | --help\n"
    "\n"
    "Runs virtual Kestrelon modules that answer the module protocol on TCP ports and\n"
    "pseudo-terminals. Prints one line per endpoint, then \"ready\".\n"
    "\n"
    "Module flags (one module; defaults in brackets):\n"
    "  --serial HEX          serial number [5EED0001]\n"
    "  --model NUMBER        model code 0-255 [27]\n"
    "  --version TEXT        firmware version MAJOR.MINOR.PATCH [2.11.5]\n"
    "  --build NUMBER        build number [1]\n"
    "  --name TEXT           name, at most 64 bytes [kestrelon-sim]\n"
    "  --address NUMBER      module address, even 2-254 [2]\n"
    "  --router NUMBER       router address, even 0-254 [0]\n"
    "  --heartbeat MS        heartbeat interval, 0-2550 ms, 0 for none [0]\n"
    "  --features NUMBER     protocol features word [0]\n"
    "  --tcp ADDRESS:PORT    listen there (IPv4; port 0: any free port)\n"
    "  --pty                 open a pseudo-terminal as a serial line\n"
    "  --log FILE            write a line per packet to FILE\n"
    "Without --tcp and --pty the module listens on 127.0.0.1, any free port.\n"
    "\n"
    "--config FILE reads one or more [module] sections of KEY = VALUE lines with the keys\n"
    "serial, model, version, build, name, address, router, heartbeat, features, tcp, pty\n"
    "(yes or no) and log.\n"
    "\n"
    "Numbers are decimal or 0x-prefixed hexadecimal; serial numbers are always hexadecimal.\n"
    "Commands on standard input, one per line: reset (abort the TCP connections; answered\n"
    "\"reset done\"), quit. SIGINT and SIGTERM also stop it. Exit status: 0 when stopped,\n"
    "1 when an endpoint cannot be opened, 2 for a bad command line or config file.\n";

enum class Turn { Continue, Quit };

Turn _command(const std::string& line, ksim::Simulator& simulator)
{
    if (line.empty()) {
        return Turn::Continue;
    }
    if (line == "quit") {
        return Turn::Quit;
    }
    if (line == "reset") {
        simulator.resetConnections();
        std::printf("reset done\n");
        std::fflush(stdout);
        return Turn::Continue;
    }
    std::fprintf(stderr, "kestrelon-sim: unknown command '%s' (commands: reset, quit)\n", line.c_str());
    return Turn::Continue;
}

// Serves commands from standard input and waits for SIGINT or SIGTERM; the end of standard input
// only ends the commands, so the simulator can run with </dev/null.
void _serve(ksim::Simulator& simulator, int signals)
{
    bool input = true;
    std::string pending;
    for (;;) {
        pollfd polls[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(polls, input ? 2 : 1, 1000) < 0 && errno != EINTR) {
            return;
        }
        if ((polls[0].revents & POLLIN) != 0) {
            return;
        }
        if ((polls[1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        char buffer[1024];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input = got < 0 && (errno == EINTR || errno == EAGAIN);
            continue;
        }
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
                line.pop_back();
            }
            if (_command(line, simulator) == Turn::Quit) {
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
    }
    std::vector<ksim::ModuleConfig> modules;
    try {
        modules = ksim::ModuleConfig::fromArguments(args);
    } catch (const ksim::ConfigError& e) {
        std::fprintf(stderr, "kestrelon-sim: %s\n", e.what());
        return EXIT_USAGE;
    }

    // Blocked before any endpoint thread starts, so every thread inherits the mask and the
    // signals arrive only through the descriptor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    sigdelset(&stopSignals, SIGPIPE);
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("kestrelon-sim: signalfd");
        return 1;
    }

    try {
        ksim::Simulator simulator(modules);
        for (const std::string& line : simulator.endpointLines()) {
            std::printf("%s\n", line.c_str());
        }
        std::printf("ready\n");
        std::fflush(stdout);
        _serve(simulator, signals);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "kestrelon-sim: %s\n", e.what());
        close(signals);
        return 1;
    }
    close(signals);
    return 0;
}

// aLink_bench: what the link engine adds to a request's round trip over TCP, and what an idle connected link costs.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "Kestrelon2/common/aLink.h"
#include "sim/module/TcpEndpoint.h"
#include "sim/module/VirtualModule.h"

// The request: an echo (command 23) of four bytes to module 2, and the answer it brings.
static const uint8_t kRequest[] = {0x02, 0x05, 0x17, 0x01, 0x02, 0x03, 0x04};
static constexpr size_t kAnswerBytes = sizeof(kRequest);

static int _echoAnswer(const aPacket* packet, void*)
{
    return packet->dataSize == 5 && packet->data[0] == 0x17;
}

static double _processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Round trips of the same request over a plain blocking socket: the floor the link is measured
// against. Returns microseconds per round trip, or a negative value on failure.
static double _bareSocketMicroseconds(uint16_t port, int rounds)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; i++) {
        if (send(fd, kRequest, sizeof(kRequest), MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof(kRequest))) {
            close(fd);
            return -1;
        }
        uint8_t answer[kAnswerBytes];
        size_t got = 0;
        while (got < kAnswerBytes) {
            const ssize_t n = recv(fd, answer + got, kAnswerBytes - got, 0);
            if (n <= 0) {
                close(fd);
                return -1;
            }
            got += static_cast<size_t>(n);
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    close(fd);
    return std::chrono::duration<double, std::micro>(elapsed).count() / rounds;
}

static void BM_LinkRoundTripOverTcp(benchmark::State& state)
{
    ksim::VirtualModule module(ksim::ModuleConfig{});
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    const double bare = _bareSocketMicroseconds(endpoint.port(), 2000);
    aLinkId id = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), endpoint.port());
    if (bare < 0 || id == 0) {
        state.SkipWithError("no connection to the virtual module");
        aLink_Destroy(&id);
        return;
    }
    aPacket* request = aPacket_CreateWithData(kRequest[0], kRequest[1], kRequest + 2);
    const auto start = std::chrono::steady_clock::now();
    int64_t rounds = 0;
    for (auto _ : state) {
        aLink_PutPacket(id, request);
        aPacket* answer = aLink_AwaitFirst(id, _echoAnswer, nullptr, 1000);
        if (answer == nullptr) {
            state.SkipWithError("no answer");
            break;
        }
        aPacket_Destroy(&answer);
        rounds++;
    }
    const double link = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
                        static_cast<double>(rounds > 0 ? rounds : 1);
    state.counters["link_us"] = link;
    state.counters["bare_socket_us"] = bare;
    state.counters["link_vs_bare"] = link / bare;
    aPacket_Destroy(&request);
    aLink_Destroy(&id);
}
BENCHMARK(BM_LinkRoundTripOverTcp)->Unit(benchmark::kMicrosecond);

// CPU seconds the whole process (link pipes and the idle virtual module) burns while a
// connected link carries nothing for the given number of seconds.
static void BM_IdleTcpLinkCpu(benchmark::State& state)
{
    ksim::VirtualModule module(ksim::ModuleConfig{});
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    aLinkId id = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), endpoint.port());
    if (id == 0) {
        state.SkipWithError("no connection to the virtual module");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = _processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        cpu = _processCpuSeconds() - before;
    }
    state.counters["cpu_seconds"] = cpu;
    state.counters["connected"] = aLink_GetStatus(id) == kLinkRunning ? 1 : 0;
    aLink_Destroy(&id);
}
BENCHMARK(BM_IdleTcpLinkCpu)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

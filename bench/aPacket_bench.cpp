// aPacket_bench: cost of framing packets byte by byte, as a link's input pipe does, and of version packing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Kestrelon2/common/aPacket.h"
#include "Kestrelon2/common/aVersion.h"

// A stream of packets of every length from 0 to 28, back to back, from rotating addresses.
static std::vector<uint8_t> _packetStream()
{
    std::vector<uint8_t> stream;
    for (uint8_t length = 0; length <= aPACKET_MAX_DATA; length++) {
        stream.push_back(static_cast<uint8_t>(2 + 2 * length));
        stream.push_back(length);
        for (uint8_t i = 0; i < length; i++) {
            stream.push_back(static_cast<uint8_t>(length * 31 + i));
        }
    }
    return stream;
}

static void BM_AssemblePacketStream(benchmark::State& state)
{
    const std::vector<uint8_t> stream = _packetStream();
    aPacket* packet = aPacket_Create();
    int64_t packets = 0;
    for (auto _ : state) {
        for (uint8_t byte : stream) {
            if (aPacket_AddByte(packet, byte) != aErrNone) {
                state.SkipWithError("a well-formed byte was refused");
                break;
            }
            if (aPacket_IsComplete(packet)) {
                benchmark::DoNotOptimize(packet->data[0]);
                aPacket_Reset(packet);
                packets++;
            }
        }
    }
    aPacket_Destroy(&packet);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    state.SetItemsProcessed(packets);
}
BENCHMARK(BM_AssemblePacketStream);

static void BM_VersionPackParseRoundTrip(benchmark::State& state)
{
    uint8_t minor = 0;
    for (auto _ : state) {
        const uint32_t packed = aVersion_Pack(2, minor, 5);
        benchmark::DoNotOptimize(aVersion_ParseMajor(packed));
        benchmark::DoNotOptimize(aVersion_ParseMinor(packed));
        benchmark::DoNotOptimize(aVersion_ParsePatch(packed));
        minor++;
    }
}
BENCHMARK(BM_VersionPackParseRoundTrip);

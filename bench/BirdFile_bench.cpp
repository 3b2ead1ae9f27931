// BirdFile_bench: cost of loading a BIRD file with an 8 MiB firmware image: reading, inflating and scanning.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/birdtool/BirdWriter.h"
#include "updater/BirdFile.h"

constexpr size_t IMAGE_SIZE = 8 << 20;

// Argument 0: bytes that do not compress at all; 1: bytes of sixteen values, which compress
// about two-fold as firmware code does.
static std::vector<uint8_t> _image(int64_t kind)
{
    std::vector<uint8_t> image(IMAGE_SIZE);
    uint32_t state = 12345;
    for (uint8_t& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(kind == 0 ? state >> 24 : 0x30 | (state >> 28));
    }
    return image;
}

static void BM_LoadBirdFile8MiB(benchmark::State& state)
{
    BirdWriter writer;
    writer.AddLoader(0x20000000, std::vector<uint8_t>(4096, 0x5A));
    writer.AddFirmware(0x60000000, _image(state.range(0)));
    writer.AddIdentity({"1234", "1.2.3", "0001A2B3", "KS-HUB"});
    writer.AddSerialOffsets(0x60000400, 0x60000800);
    char path[] = "/tmp/BirdFile_bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || !WriteBird(path, writer.File())) {
        state.SkipWithError("cannot write the file");
        return;
    }
    close(fd);
    for (auto _ : state) {
        BirdFile bird(path);
        benchmark::DoNotOptimize(bird.blocks[1].data[4]);
    }
    unlink(path);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(IMAGE_SIZE));
}
BENCHMARK(BM_LoadBirdFile8MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

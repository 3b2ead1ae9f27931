// BirdFile_fuzz: loads arbitrary bytes as a BIRD file and as the payload of one, then runs every query and patch on what loaded.
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/Log.h"
#include "updater/BirdFile.h"

static void _require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

// One scratch file per fuzzing process, removed when it ends.
static const std::string& _scratch()
{
    static const std::string path = [] {
        char name[] = "/tmp/BirdFile_fuzz-XXXXXX";
        const int fd = mkstemp(name);
        _require(fd >= 0);
        close(fd);
        std::atexit([] { unlink(_scratch().c_str()); });
        return std::string(name);
    }();
    return path;
}

static void _write(const uint8_t* bytes, size_t size)
{
    FILE* file = std::fopen(_scratch().c_str(), "wb");
    _require(file != nullptr);
    _require(size == 0 || std::fwrite(bytes, 1, size, file) == size);
    _require(std::fclose(file) == 0);
}

// Logging stays on, into nowhere, so that the logged fields are read as well.
static void _setup()
{
    static FILE* sink = [] {
        FILE* null = std::fopen("/dev/null", "w");
        _require(null != nullptr);
        Log::SetOutput(null);
        Log::ActivatePackage(DEBUG_BirdFile);
        return null;
    }();
    (void)sink;
}

static void _dump_silently(BirdFile& bird)
{
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    FILE* null = std::fopen("/dev/null", "w");
    _require(saved >= 0 && null != nullptr);
    dup2(fileno(null), STDOUT_FILENO);
    for (const BirdBlock& block : bird.blocks) {
        bird.DumpBlocks(static_cast<BirdFile::BLOCK_TYPE>(block.type));
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(null);
}

static void _exercise(BirdFile& bird)
{
    _require(bird.blocks.size() == static_cast<size_t>(bird.blockCount));
    const uint8_t* begin = bird.payload.get();
    for (const BirdBlock& block : bird.blocks) {
        _require(block.data >= begin && block.data + block.length <= begin + bird.payloadSize);
        _require(block.type > 1 || block.length >= 4);
        _require(block.type != BirdFile::BLOCK_SERIAL_OFFSETS || block.length >= 8);
        _require(block.type != BirdFile::BLOCK_IDENTITY || block.length >= BirdFile::IDENTITY_SIZE);
    }
    const std::vector<uint8_t> before(begin, begin + bird.payloadSize);
    const uint32_t key[4] = {0xDEADBEEF, 0x01234567, 0x89ABCDEF, 0};
    const uint8_t pattern[] = {0x00, 0xFF};
    bird.FindSerialNumberOffsets();
    bird.ReplaceSerialNumber(0x0001A2B3);
    _require(bird.ReplaceVectorChecksum());
    _require(bird.DecodeFirmwareBlocks(key));
    bird.ValidateData(pattern, sizeof pattern);
    bird.ValidateData(pattern, 0);
    bird.ValidateModel("KS-HUB");
    _require(bird.ValidateModel("") == !bird.FindBlocks(BirdFile::BLOCK_IDENTITY).empty());
    _require(bird.ValidateSerialNumber(bird.GetSerialNumber()));
    bird.GetBuild();
    _require(bird.GetVersion().size() <= BirdFile::IDENTITY_FIELD_SIZE);
    _dump_silently(bird);
    // Patches stay inside the blocks: the bytes of the count, the record headers and the
    // checksum are as they were.
    size_t at = 4;
    for (const BirdBlock& block : bird.blocks) {
        const size_t start = static_cast<size_t>(block.data - begin);
        _require(start >= at);
        at = start + block.length;
        _require(std::memcmp(begin + start - 5, before.data() + start - 5, 5) == 0);
    }
    _require(bird.payloadSize < 4 || std::memcmp(begin, before.data(), 4) == 0);

    BirdFile moved(std::move(bird));
    _require(bird.blocks.empty() && bird.payload == nullptr && moved.payload.get() == begin);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    _setup();

    // The bytes as a whole file.
    _write(bytes, size);
    BirdFile::VerifyFile(_scratch().c_str());
    BirdFile file;
    file.path = _scratch();
    if (file.Load()) {
        _exercise(file);
    }

    // The bytes as the inflated payload of a well-formed file, so that the block scan sees them
    // unchanged.
    std::vector<uint8_t> packed = {'b', 'i', 'r', 'd', 0x01, 0x01};
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    packed.resize(6 + packedSize);
    _require(compress(packed.data() + 6, &packedSize, bytes, static_cast<uLong>(size)) == Z_OK);
    packed.resize(6 + packedSize);
    _write(packed.data(), packed.size());
    BirdFile payload;
    payload.path = _scratch();
    const bool inflates = size <= 8 * packedSize;
    _require(payload.Load() == inflates);
    if (inflates) {
        _require(payload.payloadSize == size && (size == 0 || std::memcmp(payload.payload.get(), bytes, size) == 0));
        _exercise(payload);
    }
    return 0;
}

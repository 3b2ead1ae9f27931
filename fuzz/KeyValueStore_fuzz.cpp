// KeyValueStore_fuzz: loads arbitrary text as a settings file, as a hand-edited one would reach the store.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "updater/KeyValueStore.h"

static void _require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

// One scratch directory per run, in memory where the system has such a file system: every input
// is written, loaded and saved twice, and saves reach the disk before they count. The name lives
// in a plain array, which the clean-up at exit can still read after static strings are gone.
static char _scratchName[64];

static std::string _scratch()
{
    if (_scratchName[0] == '\0') {
        const char* parent = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::snprintf(_scratchName, sizeof _scratchName, "%s/KeyValueStore_fuzz.XXXXXX", parent);
        _require(mkdtemp(_scratchName) != nullptr);
        std::atexit([] { std::filesystem::remove_all(_scratchName); });
    }
    return _scratchName;
}

static std::string _contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string input = _scratch() + "/input";
    const std::string first = _scratch() + "/first";
    const std::string second = _scratch() + "/second";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        _require(out.good());
    }

    KeyValueStore store(input.c_str());
    // The getters of the update flows, on keys the input may or may not hold.
    for (const char* key : {"LATEST_DOWNLOAD", "LATEST_TRANSFER", "A", "", "#"}) {
        store.GetString(key, nullptr);
        store.GetInt(key, 0);
        store.GetHex(key, 0);
        store.GetBOOL(key, false);
        store.GetDouble(key, 0.0);
    }
    store.Save(first.c_str());

    // What one save wrote loads back to the same entries, so a second save writes the same file,
    // except for the two entries the format cannot carry: a key beginning with "#" (written at the
    // start of a line, it reads as a comment) and an empty key with an empty value (too short).
    const KeyValueStore reloaded(first.c_str());
    KeyValueStore copy = reloaded;
    copy.Save(second.c_str());
    const std::string written = _contents(first);
    _require(written.empty() || written.back() == '\n');
    std::string carried;
    for (size_t start = 0; start < written.size();) {
        const size_t end = written.find('\n', start) + 1;
        const std::string line = written.substr(start, end - start);
        if (line[0] != '#' && line != "=\n") {
            carried += line;
        }
        start = end;
    }
    _require(carried == _contents(second));
    return 0;
}

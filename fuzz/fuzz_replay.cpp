// fuzz_replay: runs a fuzz target once on every input file, for builds without libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size);

static bool _replayFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

// Every regular file of a directory, sorted so that a failing run names the same input each time.
static std::vector<std::filesystem::path> _inputsOf(const std::filesystem::path& path, std::error_code& error)
{
    std::vector<std::filesystem::path> inputs;
    if (!std::filesystem::is_directory(path, error)) {
        inputs.push_back(path);
        return inputs;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (entry.is_regular_file()) {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    for (int i = 1; i < argc; i++) {
        std::error_code error;
        const std::vector<std::filesystem::path> inputs = _inputsOf(argv[i], error);
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const auto& input : inputs) {
            if (!_replayFile(input)) {
                return 1;
            }
            replayed++;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}

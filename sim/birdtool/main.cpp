// birdtool: writes BIRD firmware files from images and identity fields, and prints what an existing one holds.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Log.h"
#include "sim/birdtool/BirdWriter.h"
#include "updater/BirdFile.h"

namespace {

constexpr int EXIT_FILE = 1;
constexpr int EXIT_USAGE = 2;

const char* const USAGE =
    "Usage: birdtool write -o FILE [BLOCK OPTION]...\n"
    "       birdtool show [-v] FILE\n"
    "       birdtool --help\n"
    "\n"
    "Writes a BIRD firmware file from images and fields, or prints the header, blocks,\n"
    "identity and serial-number offsets of an existing one as the Updater reads them.\n"
    "\n"
    "write: the blocks are written in the order their options appear; the identity block\n"
    "stands where the first of --build, --version, --serial and --model appears.\n"
    "  -o, --output FILE              the file to write (required)\n"
    "  --loader ADDRESS:IMAGE[:FLAGS] a loader block: load address, image file, flags 0-7\n"
    "  --firmware ADDRESS:IMAGE[:FLAGS]\n"
    "                                 a firmware block; give it once per image\n"
    "  --build NUMBER                 identity: the build number\n"
    "  --version TEXT                 identity: the version text (readers stop at a space)\n"
    "  --serial HEX                   identity: the serial number of the one device the\n"
    "                                 file is built for\n"
    "  --model NAME                   identity: the model name (at most 16 characters)\n"
    "  --serial-offsets SERIAL:DESCRIPTOR\n"
    "                                 device addresses of the serial-number word and of the\n"
    "                                 first character of the serial-number string\n"
    "                                 descriptor, 0 for absent; makes the file generic\n"
    "  --loader-start ADDRESS         where the recovery loader is started\n"
    "  --scramble K0:K1:K2:K3         store the firmware images scrambled with this key of\n"
    "                                 four hexadecimal words (a chip's fingerprint)\n"
    "  --signature TEXT               header signature, 4 characters [bird]\n"
    "  --format-version NUMBER        header format version, 16 bits [0x0101]\n"
    "  --payload-only                 write the bare payload, neither compressed nor with\n"
    "                                 a header (seeds for fuzzing the payload scan)\n"
    "\n"
    "show:\n"
    "  -v                             also print the reader's diagnostics on standard error\n"
    "\n"
    "Numbers are decimal or 0x-prefixed hexadecimal. Exit status: 0 on success, 1 when a\n"
    "file cannot be read, written or loaded, 2 for a bad command line.\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace

static unsigned long _number(const std::string& text, int base, unsigned long max, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = strtoul(text.c_str(), &end, base);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || value > max) {
        throw UsageError(std::string("bad ") + what + " '" + text + "'");
    }
    return value;
}

static uint32_t _address(const std::string& text)
{
    return static_cast<uint32_t>(_number(text, 0, UINT32_MAX, "address"));
}

static std::vector<std::string> _split(const std::string& text)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t colon; (colon = text.find(':', from)) != std::string::npos; from = colon + 1) {
        parts.push_back(text.substr(from, colon - from));
    }
    parts.push_back(text.substr(from));
    return parts;
}

static std::vector<uint8_t> _read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FileError("cannot read " + path);
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static void _add_image(BirdWriter& writer, const std::string& option, const std::string& value)
{
    // Only the first colon ends the address; with three parts or more the last one is the
    // flags, so an image path holding colons is given with its flags.
    std::vector<std::string> parts = _split(value);
    if (parts.size() < 2) {
        throw UsageError(option + " needs ADDRESS:IMAGE[:FLAGS]");
    }
    uint8_t flags = 0;
    if (parts.size() > 2) {
        flags = static_cast<uint8_t>(_number(parts.back(), 10, 7, "flags"));
        parts.pop_back();
    }
    const uint32_t address = _address(parts[0]);
    std::string path = parts[1];
    for (size_t i = 2; i < parts.size(); i++) {
        path += ":" + parts[i];
    }
    if (option == "--loader") {
        writer.AddLoader(address, _read(path), flags);
    } else {
        writer.AddFirmware(address, _read(path), flags);
    }
}

static int _write(const std::vector<std::string>& args)
{
    BirdWriter writer;
    BirdHeader header;
    BirdIdentity identity;
    bool identityPlaced = false;
    std::string output;
    // The identity fields are gathered first, so that the block written where the first of
    // them appears holds them all.
    std::vector<std::pair<std::string, std::string>> steps;
    bool payloadOnly = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& option = args[i];
        if (option == "--payload-only") {
            payloadOnly = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            throw UsageError(option + " needs a value");
        }
        steps.emplace_back(option, args[++i]);
    }
    for (const auto& [option, value] : steps) {
        if (option == "--build") {
            identity.build = std::to_string(_number(value, 10, UINT32_MAX, "build number"));
        } else if (option == "--version") {
            identity.version = value;
        } else if (option == "--serial") {
            char text[9];
            snprintf(text, sizeof text, "%08X", static_cast<unsigned>(_number(value, 16, UINT32_MAX, "serial number")));
            identity.serial = text;
        } else if (option == "--model") {
            if (value.size() > BirdWriter::IDENTITY_FIELD_SIZE) {
                throw UsageError("model name '" + value + "' is longer than 16 characters");
            }
            identity.model = value;
        }
    }
    for (const auto& [option, value] : steps) {
        if (option == "-o" || option == "--output") {
            output = value;
        } else if (option == "--loader" || option == "--firmware") {
            _add_image(writer, option, value);
        } else if (option == "--build" || option == "--version" || option == "--serial" || option == "--model") {
            if (!identityPlaced) {
                writer.AddIdentity(identity);
                identityPlaced = true;
            }
        } else if (option == "--serial-offsets") {
            const std::vector<std::string> parts = _split(value);
            if (parts.size() != 2) {
                throw UsageError("--serial-offsets needs SERIAL:DESCRIPTOR");
            }
            writer.AddSerialOffsets(_address(parts[0]), _address(parts[1]));
        } else if (option == "--loader-start") {
            writer.AddLoaderStart(_address(value));
        } else if (option == "--scramble") {
            const std::vector<std::string> parts = _split(value);
            if (parts.size() != 4) {
                throw UsageError("--scramble needs four words K0:K1:K2:K3");
            }
            std::array<uint32_t, 4> key{};
            for (size_t w = 0; w < 4; w++) {
                key[w] = static_cast<uint32_t>(_number(parts[w], 16, UINT32_MAX, "key word"));
            }
            writer.Scramble(key);
        } else if (option == "--signature") {
            if (value.size() != 4) {
                throw UsageError("the signature must have 4 characters");
            }
            std::copy(value.begin(), value.end(), header.signature.begin());
        } else if (option == "--format-version") {
            const unsigned long version = _number(value, 0, 0xFFFF, "format version");
            header.version = {static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)};
        } else {
            throw UsageError("unknown option " + option);
        }
    }
    if (output.empty()) {
        throw UsageError("write needs -o FILE");
    }
    const std::vector<uint8_t> payload = writer.Payload();
    const std::vector<uint8_t> file = payloadOnly ? payload : PackBird(payload, header);
    if (!payloadOnly && payload.size() > 8 * (file.size() - 6)) {
        fprintf(stderr, "birdtool: warning: the payload compresses more than eight-fold; the Updater will not load it\n");
    }
    if (!WriteBird(output, file)) {
        throw FileError("cannot write " + output);
    }
    return 0;
}

static const char* _type_name(uint8_t type)
{
    switch (type) {
    case BirdFile::BLOCK_LOADER:
        return "loader";
    case BirdFile::BLOCK_FIRMWARE:
        return "firmware";
    case BirdFile::BLOCK_SERIAL_OFFSETS:
        return "serial offsets";
    case BirdFile::BLOCK_IDENTITY:
        return "identity";
    case BirdFile::BLOCK_LOADER_START:
        return "loader start";
    default:
        return "unknown";
    }
}

static std::string _trimmed(const uint8_t* field)
{
    std::string text(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), 16));
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

static int _show(const std::vector<std::string>& args)
{
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "-v") {
            Log::SetOutput(stderr);
            Log::ActivatePackage(DEBUG_BirdFile);
        } else if (path.empty() && (arg.empty() || arg[0] != '-')) {
            path = arg;
        } else {
            throw UsageError("show takes [-v] FILE");
        }
    }
    if (path.empty()) {
        throw UsageError("show needs a FILE");
    }
    const bool verified = BirdFile::VerifyFile(path.c_str());
    BirdFile bird;
    bird.path = path;
    if (!bird.Load()) {
        throw FileError(path + " does not load as a BIRD file");
    }
    char signature[5];
    for (int i = 0; i < 4; i++) {
        const char c = static_cast<char>(bird.signature >> (24 - 8 * i));
        signature[i] = isprint(static_cast<unsigned char>(c)) ? c : '.';
    }
    signature[4] = '\0';
    printf("File: %s\n", path.c_str());
    printf("Header: signature \"%s\", format version 0x%04X, %s\n", signature, bird.formatVersion,
           verified ? "accepted" : "rejected by the header check");
    const uint32_t declared =
        bird.payloadSize >= 4 ? uint32_t(bird.payload[0]) << 24 | uint32_t(bird.payload[1]) << 16 |
                                    uint32_t(bird.payload[2]) << 8 | uint32_t(bird.payload[3])
                              : 0;
    printf("Payload: %u bytes, %d blocks (%u declared), checksum %08X\n", bird.payloadSize, bird.blockCount,
           declared, bird.fileChecksum);
    printf("Blocks:\n");
    printf("   #  type               flags     length  address\n");
    for (size_t i = 0; i < bird.blocks.size(); i++) {
        const BirdBlock& block = bird.blocks[i];
        printf("  %2zu  %2u %-14s  %5u %10u", i, block.type, _type_name(block.type), block.flags, block.length);
        if (block.type == BirdFile::BLOCK_LOADER || block.type == BirdFile::BLOCK_FIRMWARE) {
            printf("  0x%08X", block.address);
        }
        printf("\n");
    }
    const std::vector<BirdBlock> identity = bird.FindBlocks(BirdFile::BLOCK_IDENTITY);
    if (identity.empty()) {
        printf("Identity: none\n");
    } else {
        printf("Identity: build %u, version \"%s\", serial %08X, model \"%s\"\n", bird.GetBuild(),
               bird.GetVersion().c_str(), bird.GetSerialNumber(),
               _trimmed(identity[0].data + BirdFile::IDENTITY_MODEL).c_str());
    }
    if (bird.serialOffsetsPresent) {
        printf("Serial offsets: serial number 0x%08X, descriptor 0x%08X (generic file)\n", bird.serialNumberAddress,
               bird.descriptorAddress);
    } else {
        printf("Serial offsets: none\n");
    }
    const std::vector<BirdBlock> start = bird.FindBlocks(BirdFile::BLOCK_LOADER_START);
    if (!start.empty() && start[0].length >= 4) {
        printf("Loader start: 0x%02X%02X%02X%02X\n", start[0].data[0], start[0].data[1], start[0].data[2],
               start[0].data[3]);
    } else {
        printf("Loader start: none\n");
    }
    return 0;
}


int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help") {
        fputs(USAGE, args.empty() ? stderr : stdout);
        return args.empty() ? EXIT_USAGE : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (args[0] == "write") {
            return _write(rest);
        }
        if (args[0] == "show") {
            return _show(rest);
        }
        throw UsageError("unknown command " + args[0]);
    } catch (const UsageError& e) {
        fprintf(stderr, "birdtool: %s\n(birdtool --help shows the usage)\n", e.what());
        return EXIT_USAGE;
    } catch (const std::exception& e) {
        fprintf(stderr, "birdtool: %s\n", e.what());
        return EXIT_FILE;
    }
}

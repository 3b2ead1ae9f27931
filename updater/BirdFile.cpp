// BirdFile: loading, inflating and scanning firmware release files, and the queries and patches on their blocks.
#include "updater/BirdFile.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "Kestrelon2/unix/unix_file.h"
#include "app/Log.h"

namespace {

constexpr size_t HEADER_SIZE = 6;
constexpr size_t RECORD_HEADER_SIZE = 5; // type and flags byte, 4-byte length
constexpr uint32_t ADDRESS_SIZE = 4;
constexpr uint32_t SERIAL_OFFSETS_SIZE = 8;
constexpr uint32_t VECTOR_TABLE_SIZE = 32;
constexpr uint32_t DESCRIPTOR_SPAN = 16; // 8 UTF-16LE code units
constexpr uint64_t ADDRESS_SPACE = uint64_t(1) << 32;

} // namespace

static uint32_t _GetInt(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
}

static uint32_t _GetShort(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) << 8 | uint32_t(bytes[1]);
}

static uint32_t _get_le32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

static void _put_le32(uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; i++) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The fewest data bytes a block of this type must hold for its readers to stay inside it.
static uint32_t _minimum_length(uint8_t type)
{
    switch (type) {
    case BirdFile::BLOCK_LOADER:
    case BirdFile::BLOCK_FIRMWARE:
        return ADDRESS_SIZE;
    case BirdFile::BLOCK_SERIAL_OFFSETS:
        return SERIAL_OFFSETS_SIZE;
    case BirdFile::BLOCK_IDENTITY:
        return BirdFile::IDENTITY_SIZE;
    default:
        return 0;
    }
}

// One field of the identity block as a terminated text.
static std::string _field(const uint8_t* identity, uint32_t offset, size_t size)
{
    const char* text = reinterpret_cast<const char*>(identity + offset);
    return std::string(text, strnlen(text, size));
}

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const char* path) : path(path != nullptr ? path : "")
{
    if (!Load()) {
        throw std::runtime_error("Failed to load bird data");
    }
}

BirdFile::BirdFile(BirdFile&& other) noexcept
{
    *this = std::move(other);
}

// The payload buffer itself changes hands, so the moved blocks keep pointing into it; the
// source is left empty.
BirdFile& BirdFile::operator=(BirdFile&& other) noexcept
{
    if (this != &other) {
        path = std::exchange(other.path, std::string());
        signature = std::exchange(other.signature, 0);
        formatVersion = std::exchange(other.formatVersion, 0);
        fileChecksum = std::exchange(other.fileChecksum, 0);
        blockCount = std::exchange(other.blockCount, 0);
        blocks = std::exchange(other.blocks, std::vector<BirdBlock>());
        serialOffsetsPresent = std::exchange(other.serialOffsetsPresent, false);
        serialNumberAddress = std::exchange(other.serialNumberAddress, 0);
        descriptorAddress = std::exchange(other.descriptorAddress, 0);
        payload = std::move(other.payload);
        payloadSize = std::exchange(other.payloadSize, 0);
    }
    return *this;
}

void BirdFile::ForgetBlocks()
{
    fileChecksum = 0;
    blockCount = 0;
    blocks.clear();
    serialOffsetsPresent = false;
    serialNumberAddress = 0;
    descriptorAddress = 0;
}

bool BirdFile::Load()
{
    const char* name = path.c_str();
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", name);
    if (!aFile_Exists(name)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", name);
        return false;
    }
    aFile* file = aFile_Open(name, aFILE_MODE_READ);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", name);
        return false;
    }
    size_t size = 0;
    aErr err = aFile_GetSize(file, &size);
    // Every length in the format is 32 bits wide; a larger file cannot be one.
    if (err == aErrNone && size - std::min(size, HEADER_SIZE) > UINT32_MAX) {
        err = aErrRange;
    }
    if (err != aErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", static_cast<int>(err), name);
        aFile_Close(&file);
        return false;
    }

    bool result = false;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    size_t got = 0;
    if (bytes == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", static_cast<int>(aErrMemory), name);
    } else {
        err = aErrNone;
        while (got < size && err == aErrNone) {
            size_t count = 0;
            err = aFile_Read(file, bytes.get() + got, size - got, &count);
            got += count;
        }
        if (err != aErrNone && err != aErrEOF) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", static_cast<int>(err), name);
        }
        if (got < size) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", name, got, size);
        }
    }
    if (bytes != nullptr && got == size && size > HEADER_SIZE) {
        signature = _GetInt(bytes.get());
        formatVersion = _GetShort(bytes.get() + 4);
        if (DecompressData(bytes.get() + HEADER_SIZE, static_cast<uint32_t>(size - HEADER_SIZE))) {
            // A payload that does not add up still loads; the scan has logged why.
            ScanBlocks(payload.get(), payloadSize);
            FindSerialNumberOffsets();
            result = true;
        }
    }
    if (!FindBlocks(BLOCK_SERIAL_OFFSETS).empty()) {
        serialOffsetsPresent = true;
        FindSerialNumberOffsets();
    }
    aFile_Close(&file);
    return result;
}

bool BirdFile::DecompressData(const uint8_t* data, uint32_t len)
{
    ForgetBlocks();
    payload.reset();
    payloadSize = 0;
    // uLongf is wider than 32 bits here, so the capacity of a large input cannot wrap.
    const uLongf capacity = std::min<uLongf>(uLongf(len) << 3, UINT32_MAX);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
    if (buffer == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", Z_MEM_ERROR);
        return false;
    }
    uLongf size = capacity;
    const int err = uncompress(buffer.get(), &size, data, len);
    if (err != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", err);
        return false;
    }
    payload = std::move(buffer);
    payloadSize = static_cast<uint32_t>(size);
    return true;
}

bool BirdFile::ScanBlocks(const uint8_t* bytes, uint32_t len)
{
    if (bytes == nullptr) {
        len = 0;
    }
    if (bytes != payload.get() || len > payloadSize) {
        std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[len]);
        if (copy == nullptr) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: No memory for %u bytes of bird data\n", len);
            return false;
        }
        if (len > 0) {
            memcpy(copy.get(), bytes, len);
        }
        payload = std::move(copy);
        payloadSize = len;
    }
    ForgetBlocks();
    const uint8_t* base = payload.get();
    if (len < 4) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: %u bytes of bird data hold no block count\n", len);
        return false;
    }

    const uint32_t declared = _GetInt(base);
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", static_cast<int>(declared));
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");
    bool wellFormed = true;
    size_t position = 4;
    while (len - position > 4) {
        BirdBlock block;
        block.type = base[position] & BIRD_FILE_TYPE_MASK;
        block.flags = static_cast<uint8_t>((base[position] & BIRD_FILE_FLAG_MASK) >> 5);
        block.length = _GetInt(base + position + 1);
        const size_t start = position + RECORD_HEADER_SIZE;
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
                 static_cast<int>(block.length));
        // Where the next record would start is unknown once a length overruns, so the scan stops.
        if (block.length > len - start) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: Block at offset %zu runs past the end of the data (%zu bytes left)\n",
                     position, len - start);
            wellFormed = false;
            break;
        }
        position = start + block.length;
        if (block.length < _minimum_length(block.type)) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: Skipping malformed block at offset %zu: type %02X needs %u bytes\n",
                     start - RECORD_HEADER_SIZE, block.type, _minimum_length(block.type));
            wellFormed = false;
            continue;
        }
        block.data = payload.get() + start;
        if (block.type == BLOCK_LOADER || block.type == BLOCK_FIRMWARE) {
            block.address = _GetInt(block.data);
        }
        if (block.type == BLOCK_IDENTITY) {
            for (uint32_t field = 0; field < IDENTITY_SIZE; field += IDENTITY_FIELD_SIZE) {
                Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n", reinterpret_cast<const char*>(block.data + field));
            }
        }
        blockCount++;
        blocks.push_back(block);
    }

    const int64_t remaining = int64_t(len) - int64_t(position) - 4;
    if (len - position >= 4) {
        fileChecksum = _GetInt(base + position);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", fileChecksum);
    } else {
        Log::log(DEBUG_BirdFile, "BIRDFILE: No room for the file checksum\n");
    }
    bool result = wellFormed;
    if (remaining != 0) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 static_cast<int>(remaining));
        result = false;
    }
    if (static_cast<uint32_t>(blockCount) != declared) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n", blockCount,
                 static_cast<int>(declared));
        result = false;
    }
    return result;
}

std::vector<BirdBlock> BirdFile::FindBlocks(BLOCK_TYPE type) const
{
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks) {
        if (block.type == type) {
            found.push_back(block);
        }
    }
    return found;
}

bool BirdFile::FindSerialNumberOffsets()
{
    if (blockCount == 0) {
        return false;
    }
    const auto block = std::find_if(blocks.begin(), blocks.end(),
                                    [](const BirdBlock& b) { return b.type == BLOCK_SERIAL_OFFSETS; });
    if (block == blocks.end() || block->data == nullptr) {
        return false;
    }
    serialNumberAddress = _GetInt(block->data);
    descriptorAddress = _GetInt(block->data + 4);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
             static_cast<int>(serialNumberAddress), static_cast<int>(descriptorAddress));
    return true;
}

// A span that runs past the top of the device's address space lies in no image.
static bool _wraps(const char* what, uint32_t address, uint32_t span)
{
    if (address == 0 || uint64_t(address) + span <= ADDRESS_SPACE) {
        return false;
    }
    Log::log(DEBUG_BirdFile, "BIRDFILE: %s address %08X wraps around the address space\n", what, address);
    return true;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serial)
{
    char digits[9];
    snprintf(digits, sizeof digits, "%08X", serial);
    const uint64_t serialAt = serialNumberAddress;
    const uint64_t descriptorAt = descriptorAddress;
    const bool serialWraps = _wraps("serial number", serialNumberAddress, 4);
    const bool descriptorWraps = _wraps("descriptor", descriptorAddress, DESCRIPTOR_SPAN);
    bool result = false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE) {
            continue;
        }
        const uint64_t start = block.address;
        const uint64_t end = start + block.length - ADDRESS_SIZE;
        uint8_t* image = block.data + ADDRESS_SIZE;
        if (serialAt != 0) {
            if (!serialWraps && serialAt >= start && serialAt + 4 <= end) {
                uint8_t* word = image + (serialAt - start);
                Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n", _get_le32(word),
                         serial);
                _put_le32(word, serial);
            }
            result = true;
        }
        if (descriptorAt != 0 && !descriptorWraps && descriptorAt >= start && descriptorAt + DESCRIPTOR_SPAN <= end) {
            uint8_t* units = image + (descriptorAt - start);
            for (size_t i = 0; i < 8; i++) {
                units[2 * i] = static_cast<uint8_t>(digits[i]);
            }
            result = true;
        }
    }
    return result;
}

bool BirdFile::ReplaceVectorChecksum()
{
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE || block.address != 0) {
            continue;
        }
        if (block.length - ADDRESS_SIZE < VECTOR_TABLE_SIZE) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: image of %u bytes at 0 holds no vector table\n",
                     block.length - ADDRESS_SIZE);
            continue;
        }
        uint8_t* vectors = block.data + ADDRESS_SIZE;
        uint32_t sum = 0;
        for (int i : {0, 1, 2, 3, 4, 6}) {
            sum += _get_le32(vectors + 4 * i);
        }
        const uint32_t checksum = 0u - sum;
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n", _get_le32(vectors + 28),
                 checksum);
        _put_le32(vectors + 28, checksum);
    }
    return true;
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t* key)
{
    if (key == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: No key to decode the firmware with\n");
        return false;
    }
    uint8_t stream[16];
    for (int word = 0; word < 4; word++) {
        for (int byte = 0; byte < 4; byte++) {
            stream[4 * word + byte] = static_cast<uint8_t>(key[word] >> (24 - 8 * byte));
        }
    }
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE) {
            continue;
        }
        uint8_t* image = block.data + ADDRESS_SIZE;
        const uint32_t size = block.length - ADDRESS_SIZE;
        uint8_t previous = 0;
        for (uint32_t i = 0; i < size; i++) {
            image[i] = static_cast<uint8_t>(image[i] ^ stream[i % 16] ^ previous);
            previous = image[i];
        }
    }
    return true;
}

bool BirdFile::ValidateData(const uint8_t* pattern, uint32_t len)
{
    Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", path.c_str());
    bool found = false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE || (pattern == nullptr && len > 0) || len >= block.length) {
            continue;
        }
        for (uint32_t at = 0; at < block.length - len; at++) {
            if (std::equal(pattern, pattern + len, block.data + at)) {
                Log::log(DEBUG_BirdFile, "Found data at %d\n", static_cast<int>(at));
                found = true;
            }
        }
    }
    Log::log(DEBUG_BirdFile, "\n");
    return found;
}

const uint8_t* BirdFile::Identity() const
{
    const auto block =
        std::find_if(blocks.begin(), blocks.end(), [](const BirdBlock& b) { return b.type == BLOCK_IDENTITY; });
    return block == blocks.end() ? nullptr : block->data;
}

bool BirdFile::ValidateModel(const char* model)
{
    const uint8_t* identity = Identity();
    if (identity == nullptr || model == nullptr) {
        return false;
    }
    char name[IDENTITY_FIELD_SIZE + 1];
    memcpy(name, identity + IDENTITY_MODEL, IDENTITY_FIELD_SIZE);
    name[IDENTITY_FIELD_SIZE] = '\0';
    for (int i = IDENTITY_FIELD_SIZE - 1; i >= 0 && name[i] == ' '; i--) {
        name[i] = '\0';
    }
    // strncmp stops at the field's terminator, so a name longer than the field never matches.
    if (strncmp(name, model, strlen(model)) != 0) {
        return false;
    }
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", name, model);
    return true;
}

uint32_t BirdFile::GetSerialNumber()
{
    const uint8_t* identity = Identity();
    if (identity == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(strtoul(_field(identity, IDENTITY_SERIAL, 8).c_str(), nullptr, 16));
}

bool BirdFile::ValidateSerialNumber(uint32_t serial)
{
    return serial == GetSerialNumber();
}

uint32_t BirdFile::GetBuild()
{
    const uint8_t* identity = Identity();
    if (identity == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(strtoul(_field(identity, IDENTITY_BUILD, IDENTITY_FIELD_SIZE).c_str(), nullptr, 10));
}

std::string BirdFile::GetVersion()
{
    const uint8_t* identity = Identity();
    if (identity == nullptr) {
        return std::string();
    }
    const std::string text = _field(identity, IDENTITY_VERSION, IDENTITY_FIELD_SIZE);
    return text.substr(0, text.find(' '));
}

bool BirdFile::DumpBlocks(BLOCK_TYPE type)
{
    printf("BIRDFILE: BLOCK DUMP [%s]\n", path.c_str());
    for (const BirdBlock& block : FindBlocks(type)) {
        std::string text;
        for (uint32_t i = 0; i < block.length; i++) {
            if (i % 50 == 0) {
                printf(" %s\r\n%06d: ", text.c_str(), static_cast<int>(i));
                text.clear();
            }
            const uint8_t byte = block.data[i];
            text += isprint(byte) ? static_cast<char>(byte) : ' ';
            printf("%02X ", byte);
        }
        printf(" %s\n", text.c_str());
    }
    printf("\n");
    return true;
}

bool BirdFile::VerifyFile(const char* path)
{
    aFile* file = aFile_Open(path, aFILE_MODE_READ);
    if (file == nullptr) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path != nullptr ? path : "");
        return false;
    }
    uint8_t header[HEADER_SIZE];
    size_t got = 0;
    aErr err = aErrNone;
    while (got < HEADER_SIZE && err == aErrNone) {
        size_t count = 0;
        err = aFile_Read(file, header + got, HEADER_SIZE - got, &count);
        got += count;
    }
    aFile_Close(&file);
    return got == HEADER_SIZE && memcmp(header, BIRD_FILE_SIGNATURE, 4) == 0 && header[4] != 0 && header[5] != 0;
}

// BirdWriter: the payload layout, scrambling and compression of BIRD files.
#include "sim/birdtool/BirdWriter.h"

#include <zlib.h>

#include <fstream>
#include <stdexcept>

static void _put_be32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

static std::vector<uint8_t> _addressed(uint32_t address, const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> data;
    data.reserve(4 + image.size());
    _put_be32(data, address);
    data.insert(data.end(), image.begin(), image.end());
    return data;
}

static void _put_field(std::vector<uint8_t>& bytes, const std::string& text)
{
    for (size_t i = 0; i < BirdWriter::IDENTITY_FIELD_SIZE; i++) {
        bytes.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : ' ');
    }
}

void BirdWriter::AddLoader(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags)
{
    AddBlock(LOADER, flags, _addressed(address, image));
}

void BirdWriter::AddFirmware(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags)
{
    AddBlock(FIRMWARE, flags, _addressed(address, image));
}

void BirdWriter::AddSerialOffsets(uint32_t serialNumberAddress, uint32_t descriptorAddress)
{
    std::vector<uint8_t> data;
    _put_be32(data, serialNumberAddress);
    _put_be32(data, descriptorAddress);
    AddBlock(SERIAL_OFFSETS, 0, data);
}

void BirdWriter::AddIdentity(const BirdIdentity& identity)
{
    std::vector<uint8_t> data;
    for (const std::string* field : {&identity.build, &identity.version, &identity.serial, &identity.model}) {
        _put_field(data, *field);
    }
    AddBlock(IDENTITY, 0, data);
}

void BirdWriter::AddLoaderStart(uint32_t address)
{
    std::vector<uint8_t> data;
    _put_be32(data, address);
    AddBlock(LOADER_START, 0, data);
}

void BirdWriter::AddBlock(uint8_t type, uint8_t flags, const std::vector<uint8_t>& data)
{
    blocks.push_back(Block{static_cast<uint8_t>(type & 0x1F), static_cast<uint8_t>(flags & 0x07), data});
}

void BirdWriter::Scramble(const std::array<uint32_t, 4>& scrambleKey)
{
    key = scrambleKey;
}

std::vector<uint8_t> BirdWriter::Payload() const
{
    std::vector<uint8_t> payload;
    _put_be32(payload, static_cast<uint32_t>(blocks.size()));
    for (const Block& block : blocks) {
        payload.push_back(static_cast<uint8_t>(block.flags << 5 | block.type));
        _put_be32(payload, static_cast<uint32_t>(block.data.size()));
        const size_t start = payload.size();
        payload.insert(payload.end(), block.data.begin(), block.data.end());
        if (key && block.type == FIRMWARE && block.data.size() > 4) {
            ScrambleImage(payload.data() + start + 4, block.data.size() - 4, *key);
        }
    }
    _put_be32(payload, static_cast<uint32_t>(crc32(0, payload.data(), static_cast<uInt>(payload.size()))));
    return payload;
}

std::vector<uint8_t> BirdWriter::File(const BirdHeader& header) const
{
    return PackBird(Payload(), header);
}

void ScrambleImage(uint8_t* image, size_t size, const std::array<uint32_t, 4>& key)
{
    uint8_t previous = 0;
    for (size_t i = 0; i < size; i++) {
        const uint8_t plain = image[i];
        const uint8_t stream = static_cast<uint8_t>(key[(i % 16) / 4] >> (24 - 8 * (i % 4)));
        image[i] = static_cast<uint8_t>(plain ^ stream ^ previous);
        previous = plain;
    }
}

std::vector<uint8_t> PackBird(const std::vector<uint8_t>& payload, const BirdHeader& header)
{
    std::vector<uint8_t> file(header.signature.begin(), header.signature.end());
    file.insert(file.end(), header.version.begin(), header.version.end());
    uLongf size = compressBound(static_cast<uLong>(payload.size()));
    file.resize(6 + size);
    if (compress2(file.data() + 6, &size, payload.data(), static_cast<uLong>(payload.size()), Z_BEST_COMPRESSION) !=
        Z_OK) {
        throw std::runtime_error("cannot compress the payload");
    }
    file.resize(6 + size);
    return file;
}

bool WriteBird(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

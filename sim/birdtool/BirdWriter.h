// BirdWriter: builds BIRD firmware files from images and identity fields, for birdtool and for the tests' fixtures.
#ifndef SIM_BIRDTOOL_BIRDWRITER_H
#define SIM_BIRDTOOL_BIRDWRITER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The identity block's four fields; each is written as its text padded with spaces to 16
// bytes, or cut to 16.
struct BirdIdentity {
    std::string build;   // decimal build number
    std::string version; // readers stop at the first space
    std::string serial;  // 8 hexadecimal digits: the one device the file is for
    std::string model;
};

// The 6-byte file header.
struct BirdHeader {
    std::array<uint8_t, 4> signature{'b', 'i', 'r', 'd'};
    std::array<uint8_t, 2> version{0x01, 0x01};
};

// A file's blocks, in the order they were added.
class BirdWriter {
public:
    static constexpr uint8_t LOADER = 0;
    static constexpr uint8_t FIRMWARE = 1;
    static constexpr uint8_t SERIAL_OFFSETS = 2;
    static constexpr uint8_t IDENTITY = 4;
    static constexpr uint8_t LOADER_START = 5;
    static constexpr size_t IDENTITY_FIELD_SIZE = 16;

    // Flags are 0 to 7; higher bits are dropped.
    void AddLoader(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
    void AddFirmware(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
    // An address of 0 marks the item as absent; the block makes the file generic.
    void AddSerialOffsets(uint32_t serialNumberAddress, uint32_t descriptorAddress);
    void AddIdentity(const BirdIdentity& identity);
    void AddLoaderStart(uint32_t address);
    // Any block exactly as given: type 0 to 31, flags 0 to 7, data unchecked.
    void AddBlock(uint8_t type, uint8_t flags, const std::vector<uint8_t>& data);

    // Firmware images are stored scrambled with the key, as the descrambler of a recovery
    // undoes it; loader images and every address stay plain.
    void Scramble(const std::array<uint32_t, 4>& key);

    // Block count, the blocks, and a CRC-32 of all that as the trailing checksum.
    std::vector<uint8_t> Payload() const;
    // The header followed by the compressed payload.
    std::vector<uint8_t> File(const BirdHeader& header = BirdHeader()) const;

private:
    struct Block {
        uint8_t type;
        uint8_t flags;
        std::vector<uint8_t> data;
    };
    std::vector<Block> blocks;
    std::optional<std::array<uint32_t, 4>> key;
};

// Each stored byte is the plain byte XOR the key stream XOR the previous plain byte (0 at the
// start); the key stream is the four words' bytes, most significant first, repeating.
void ScrambleImage(uint8_t* image, size_t size, const std::array<uint32_t, 4>& key);

// A complete file: the header and the payload as one zlib stream, however the payload is made.
std::vector<uint8_t> PackBird(const std::vector<uint8_t>& payload, const BirdHeader& header = BirdHeader());

// Writes the bytes to the file, replacing it; false when it cannot be written completely.
bool WriteBird(const std::string& path, const std::vector<uint8_t>& bytes);

#endif

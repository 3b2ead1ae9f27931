// BirdFile: one firmware release file held in memory: its inflated payload, its typed blocks, the identity they carry and the patches made to them.
#ifndef UPDATER_BIRDFILE_H
#define UPDATER_BIRDFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One block of the payload. `data` points into the payload of the BirdFile it came from and is
// valid while that object lives; for loader and firmware blocks it is the first address byte,
// the image starting 4 bytes later.
struct BirdBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
    uint32_t address = 0; // load address of loader and firmware blocks; 0 for every other type
    uint8_t* data = nullptr;
};

class BirdFile {
public:
    static constexpr char BIRD_FILE_SIGNATURE[4] = {'b', 'i', 'r', 'd'};
    // What current writers put in the header; nothing compares a file's version against it.
    static constexpr uint8_t BIRD_FILE_VERSION[2] = {0x01, 0x01};
    static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
    static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;

    enum BLOCK_TYPE : uint8_t {
        BLOCK_LOADER = 0,
        BLOCK_FIRMWARE = 1,
        BLOCK_SERIAL_OFFSETS = 2,
        BLOCK_IDENTITY = 4,
        BLOCK_LOADER_START = 5,
    };

    // The identity block: four text fields of IDENTITY_FIELD_SIZE bytes, in this order.
    static constexpr uint32_t IDENTITY_FIELD_SIZE = 16;
    static constexpr uint32_t IDENTITY_SIZE = 4 * IDENTITY_FIELD_SIZE;
    static constexpr uint32_t IDENTITY_BUILD = 0;
    static constexpr uint32_t IDENTITY_VERSION = 16;
    static constexpr uint32_t IDENTITY_SERIAL = 32;
    static constexpr uint32_t IDENTITY_MODEL = 48;

    BirdFile();
    // Loads the file; throws std::runtime_error("Failed to load bird data") when it does not load.
    explicit BirdFile(const char* path);
    BirdFile(BirdFile&& other) noexcept;
    BirdFile& operator=(BirdFile&& other) noexcept;
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;
    ~BirdFile() = default;

    // Reads, inflates and scans the file named by `path`. A payload whose blocks do not add up
    // still loads; only an unreadable file or one that does not inflate fails.
    bool Load();
    // Inflates into a new payload of at most eight times len bytes; the old blocks are dropped.
    bool DecompressData(const uint8_t* data, uint32_t len);
    // Splits the bytes into blocks; true only when they parse exactly. Bytes other than the
    // object's own payload are copied into it first, so that every block points into the payload.
    bool ScanBlocks(const uint8_t* bytes, uint32_t len);

    std::vector<BirdBlock> FindBlocks(BLOCK_TYPE type) const;
    bool FindSerialNumberOffsets();
    bool ReplaceSerialNumber(uint32_t serial);
    bool ReplaceVectorChecksum();
    // key: four words, the first one's most significant byte leading the key stream. A null key
    // changes nothing and gives false.
    bool DecodeFirmwareBlocks(const uint32_t* key);
    bool ValidateData(const uint8_t* pattern, uint32_t len);
    bool ValidateModel(const char* model);
    uint32_t GetSerialNumber();
    bool ValidateSerialNumber(uint32_t serial);
    uint32_t GetBuild();
    std::string GetVersion();
    bool DumpBlocks(BLOCK_TYPE type);

    // A cheap look at the 6-byte header, without loading the file.
    static bool VerifyFile(const char* path);

    std::string path;
    uint32_t signature = 0;
    uint32_t formatVersion = 0;
    uint32_t fileChecksum = 0;
    int32_t blockCount = 0;
    std::vector<BirdBlock> blocks;
    bool serialOffsetsPresent = false;
    uint32_t serialNumberAddress = 0;
    uint32_t descriptorAddress = 0;
    std::unique_ptr<uint8_t[]> payload;
    uint32_t payloadSize = 0;

private:
    // The first identity block, or null when the file has none.
    const uint8_t* Identity() const;
    void ForgetBlocks();
};

#endif

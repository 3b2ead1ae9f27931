// NoiseImage: firmware-like image bytes for fixtures, the same for the same seed.
#ifndef TESTS_SUPPORT_NOISEIMAGE_H
#define TESTS_SUPPORT_NOISEIMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes that do not compress, so that fixtures stay clear of the eight-fold inflation limit.
inline std::vector<uint8_t> NoiseImage(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

#endif

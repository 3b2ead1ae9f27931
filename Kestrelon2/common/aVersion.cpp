// aVersion: packing and parsing of versions, the library version text and the feature list.
#include "Kestrelon2/common/aVersion.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static constexpr uint8_t sFirstCurrentMajor = 2;
static constexpr uint8_t sFirstCurrentMinor = 15;
static constexpr uint8_t sLegacyNibbleMax = 0xF;
static constexpr char sFeatureSeparator[] = " - ";
static constexpr size_t sVersionTextSize = 15;

static std::array<char, sVersionTextSize> sBuildVersionText()
{
    std::array<char, sVersionTextSize> text{};
    std::snprintf(text.data(), text.size(), "%d.%d%s%d", aVERSION_MAJOR, aVERSION_MINOR, aVERSION_PHASE,
                  aVERSION_PATCH);
    return text;
}

bool aVersion_IsLegacyFormat(uint32_t packed)
{
    const auto major = static_cast<uint8_t>(packed >> 28);
    const auto minor = static_cast<uint8_t>((packed >> 24) & 0xF);
    return aVersion_IsAtLeastCompare(sFirstCurrentMajor, sFirstCurrentMinor, 0, major, minor, 0xFF);
}

uint8_t aVersion_ParseMajor(uint32_t packed)
{
    if (aVersion_IsLegacyFormat(packed)) {
        return static_cast<uint8_t>(packed >> 28);
    }
    return static_cast<uint8_t>(packed >> 16);
}

uint8_t aVersion_ParseMinor(uint32_t packed)
{
    if (aVersion_IsLegacyFormat(packed)) {
        return static_cast<uint8_t>((packed >> 24) & 0xF);
    }
    return static_cast<uint8_t>(packed >> 8);
}

uint32_t aVersion_ParsePatch(uint32_t packed)
{
    if (aVersion_IsLegacyFormat(packed)) {
        return packed & 0xFFFFFF;
    }
    return packed & 0xFF;
}

int aVersion_ParseString(uint32_t packed, char* buffer, size_t size)
{
    if (buffer == nullptr) {
        size = 0;
    }
    return std::snprintf(buffer, size, "%d.%d.%d", aVersion_ParseMajor(packed), aVersion_ParseMinor(packed),
                         static_cast<int>(aVersion_ParsePatch(packed)));
}

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch)
{
    // The legacy layout keeps only a nibble of the minor, so a version like 1.16 would come
    // back as 1.0; the current layout holds every version and parses back unchanged.
    if (aVersion_IsAtLeastCompare(major, minor, 0, sFirstCurrentMajor, sFirstCurrentMinor, 0) ||
        minor > sLegacyNibbleMax) {
        return aVERSION_CURRENT_TAG | static_cast<uint32_t>(major) << 16 | static_cast<uint32_t>(minor) << 8 | patch;
    }
    return static_cast<uint32_t>(major) << 28 | static_cast<uint32_t>(minor & 0xF) << 24 | patch;
}

uint8_t aVersion_GetMajor()
{
    return aVERSION_MAJOR;
}

uint8_t aVersion_GetMinor()
{
    return aVERSION_MINOR;
}

uint8_t aVersion_GetPatch()
{
    return aVERSION_PATCH;
}

const char* aVersion_GetString()
{
    // A function-local static is initialised exactly once, and C++ makes concurrent first
    // calls wait for that, so callers need not serialise the first use.
    static const std::array<char, sVersionTextSize> text = sBuildVersionText();
    return text.data();
}

bool aVersion_IsAtLeastCompare(uint8_t aMajor, uint8_t aMinor, uint8_t aPatch, uint8_t bMajor, uint8_t bMinor,
                               uint8_t bPatch)
{
    if (aMajor != bMajor) {
        return aMajor > bMajor;
    }
    if (aMinor != bMinor) {
        return aMinor > bMinor;
    }
    return aPatch >= bPatch;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch)
{
    return aVersion_IsAtLeastCompare(aVERSION_MAJOR, aVERSION_MINOR, aVERSION_PATCH, major, minor, patch);
}

bool aVersion_HasFeature(const char* name)
{
    if (name == nullptr) {
        return false;
    }
    for (const aVersionFeature& feature : FEATS) {
        if (std::strcmp(feature.name, name) == 0) {
            return true;
        }
    }
    return false;
}

char* aVersion_GetFeatureList()
{
    size_t length = 0;
    for (size_t i = 0; i < NUM_FEATS; i++) {
        length += (i > 0 ? 1 : 0) + std::strlen(FEATS[i].name) + std::strlen(sFeatureSeparator) +
                  std::strlen(FEATS[i].description);
    }
    auto* list = static_cast<char*>(std::malloc(length + 1));
    if (list == nullptr) {
        return nullptr;
    }
    size_t used = 0;
    for (size_t i = 0; i < NUM_FEATS; i++) {
        used += static_cast<size_t>(std::snprintf(list + used, length + 1 - used, "%s%s%s%s", i > 0 ? "\n" : "",
                                                  FEATS[i].name, sFeatureSeparator, FEATS[i].description));
    }
    return list;
}

aErr aVersion_DestroyFeatureList(char** list)
{
    if (list == nullptr || *list == nullptr) {
        return aErrParam;
    }
    std::free(*list);
    *list = nullptr;
    return aErrNone;
}

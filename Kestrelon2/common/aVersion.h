// aVersion: packed 32-bit firmware and library versions, the library's own version and its feature table.
#ifndef KESTRELON2_COMMON_AVERSION_H
#define KESTRELON2_COMMON_AVERSION_H

#include <cstddef>
#include <cstdint>

#include "Kestrelon2/common/aError.h"

// The library's own version.
inline constexpr uint8_t aVERSION_MAJOR = 2;
inline constexpr uint8_t aVERSION_MINOR = 11;
inline constexpr uint8_t aVERSION_PATCH = 5;

// Separator between minor and patch in the library's version text.
inline constexpr char aVERSION_PHASE[] = ".";

// A capability of this library that callers may test for by name.
typedef struct aVersionFeature {
    const char* name;
    const char* description;
} aVersionFeature;

inline constexpr size_t NUM_FEATS = 1;
inline constexpr aVersionFeature FEATS[NUM_FEATS] = {
    {"VERSION", "Version Query API"},
};

// Packed layouts. Current: 0x2F, major, minor, patch, a byte each. Legacy: major and minor a
// nibble each, then a 24-bit patch; versions below 2.15 were packed that way.
inline constexpr uint32_t aVERSION_CURRENT_TAG = 0x2F000000;

// True when the packed value is in the legacy layout: its top nibble is below 2, or 2 with a
// second nibble below 15.
bool aVersion_IsLegacyFormat(uint32_t packed);

// The fields of a packed value in whichever layout it uses.
uint8_t aVersion_ParseMajor(uint32_t packed);
uint8_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);

// Writes "major.minor.patch" of a packed value into buffer (at most size bytes, terminated)
// and returns the length of the whole text, as snprintf does; a null buffer only measures.
int aVersion_ParseString(uint32_t packed, char* buffer, size_t size);

// Packs a version: the current layout from 2.15 on, and for any version whose minor does not
// fit a nibble; the legacy layout otherwise.
uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);

// The library's own version and its text "2.11.5".
uint8_t aVersion_GetMajor();
uint8_t aVersion_GetMinor();
uint8_t aVersion_GetPatch();
const char* aVersion_GetString();

// True when version a is at least version b, comparing major, then minor, then patch.
bool aVersion_IsAtLeastCompare(uint8_t aMajor, uint8_t aMinor, uint8_t aPatch, uint8_t bMajor, uint8_t bMinor,
                               uint8_t bPatch);

// True when this library is at least the given version.
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

// True when name is exactly (case included) the name of one of this library's features.
bool aVersion_HasFeature(const char* name);

// A new text listing the features, one "name - description" line each, lines separated by
// "\n"; null when memory is short. Release it with aVersion_DestroyFeatureList.
char* aVersion_GetFeatureList();

// Frees a feature list and clears the caller's pointer; aErrParam for a null pointer or text.
aErr aVersion_DestroyFeatureList(char** list);

#endif

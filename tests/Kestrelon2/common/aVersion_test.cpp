// Tests of packed versions, the library's own version and its feature table.
#include "Kestrelon2/common/aVersion.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

struct PackCase {
    uint8_t major, minor, patch;
    uint32_t packed;
};

TEST(AVersion, PacksLegacyBelowTwoFifteenAndCurrentFromThere)
{
    const std::vector<PackCase> cases = {
        {0, 0, 0, 0x00000000u},    {1, 15, 255, 0x1F0000FFu}, {2, 0, 0, 0x20000000u},
        {2, 11, 5, 0x2B000005u},   {2, 14, 3, 0x2E000003u},   {2, 14, 255, 0x2E0000FFu},
        {2, 15, 0, 0x2F020F00u},   {2, 15, 3, 0x2F020F03u},   {3, 0, 0, 0x2F030000u},
        {255, 255, 255, 0x2FFFFFFFu},
        // A minor that does not fit the legacy nibble goes into the current layout instead of
        // losing its high bits.
        {1, 16, 0, 0x2F011000u},   {0, 200, 7, 0x2F00C807u},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + "." + std::to_string(c.patch));
        EXPECT_EQ(hex(aVersion_Pack(c.major, c.minor, c.patch)), hex(c.packed));
    }
}

TEST(AVersion, EveryPackedVersionParsesBack)
{
    for (int major = 0; major <= 0xFF; major++) {
        for (int minor = 0; minor <= 0xFF; minor++) {
            for (int patch : {0, 1, 127, 255}) {
                const uint32_t packed = aVersion_Pack(static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                                                      static_cast<uint8_t>(patch));
                if (aVersion_ParseMajor(packed) != major || aVersion_ParseMinor(packed) != minor ||
                    aVersion_ParsePatch(packed) != static_cast<uint32_t>(patch)) {
                    ADD_FAILURE() << major << "." << minor << "." << patch << " packed " << hex(packed)
                                  << " parses as " << int{aVersion_ParseMajor(packed)} << "."
                                  << int{aVersion_ParseMinor(packed)} << "." << aVersion_ParsePatch(packed);
                    return;
                }
            }
        }
    }
}

struct ParseCase {
    uint32_t packed;
    bool legacy;
    uint8_t major, minor;
    uint32_t patch;
    const char* text;
};

TEST(AVersion, ParsesWhicheverLayoutApplies)
{
    const std::vector<ParseCase> cases = {
        {0x00000000u, true, 0, 0, 0, "0.0.0"},
        {0x21012345u, true, 2, 1, 0x012345, "2.1.74565"},
        {0x1FFFFFFFu, true, 1, 15, 0xFFFFFF, "1.15.16777215"},
        {0x2E000003u, true, 2, 14, 3, "2.14.3"},
        {0x2EFFFFFFu, true, 2, 14, 0xFFFFFF, "2.14.16777215"},
        {0x2F000000u, false, 0, 0, 0, "0.0.0"},
        {0x2F020F03u, false, 2, 15, 3, "2.15.3"},
        {0x2FFFFFFFu, false, 255, 255, 255, "255.255.255"},
        // A top nibble of 3 or more is read in the current layout although its tag differs.
        {0x30010203u, false, 1, 2, 3, "1.2.3"},
        {0xFFFFFFFFu, false, 255, 255, 255, "255.255.255"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(hex(c.packed));
        EXPECT_EQ(aVersion_IsLegacyFormat(c.packed), c.legacy);
        EXPECT_EQ(aVersion_ParseMajor(c.packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(c.packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(c.packed), c.patch);
        char text[32];
        EXPECT_EQ(aVersion_ParseString(c.packed, text, sizeof(text)), static_cast<int>(std::string(c.text).size()));
        EXPECT_STREQ(text, c.text);
    }
}

TEST(AVersion, ParseStringTruncatesAndMeasures)
{
    char text[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(aVersion_ParseString(0x2F020F03u, text, 4), 6);
    EXPECT_STREQ(text, "2.1");
    EXPECT_EQ(text[4], 'x');
    EXPECT_EQ(aVersion_ParseString(0x2F020F03u, nullptr, 0), 6);
    EXPECT_EQ(aVersion_ParseString(0x2F020F03u, nullptr, 64), 6);
}

TEST(AVersion, LibraryIsTwoElevenFive)
{
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 11);
    EXPECT_EQ(aVersion_GetPatch(), 5);
    EXPECT_STREQ(aVersion_GetString(), "2.11.5");
    EXPECT_STREQ(aVERSION_PHASE, ".");
}

TEST(AVersion, ConcurrentFirstCallsAllSeeTheWholeText)
{
    // Each test runs in a fresh process, so this is the first use of the text.
    constexpr int kThreads = 8;
    std::array<const char*, kThreads> seen{};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++) {
        threads.emplace_back([&seen, i] { seen[i] = aVersion_GetString(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const char* text : seen) {
        EXPECT_STREQ(text, "2.11.5");
        EXPECT_EQ(text, seen[0]);
    }
}

struct CompareCase {
    std::array<uint8_t, 3> a, b;
    bool atLeast;
};

TEST(AVersion, ComparesMajorThenMinorThenPatch)
{
    const std::vector<CompareCase> cases = {
        {{2, 11, 5}, {2, 11, 5}, true},   {{2, 11, 5}, {2, 11, 6}, false}, {{2, 11, 5}, {2, 11, 4}, true},
        {{2, 11, 5}, {2, 12, 0}, false},  {{2, 11, 5}, {2, 10, 255}, true}, {{2, 11, 5}, {3, 0, 0}, false},
        {{2, 0, 0}, {1, 255, 255}, true}, {{0, 0, 0}, {0, 0, 0}, true},     {{0, 0, 0}, {0, 0, 1}, false},
        // Unsigned: 200 is more than 100, not a negative number.
        {{200, 0, 0}, {100, 0, 0}, true}, {{1, 200, 0}, {1, 100, 0}, true}, {{1, 1, 200}, {1, 1, 100}, true},
        {{100, 0, 0}, {200, 0, 0}, false},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.a[0]) + "." + std::to_string(c.a[1]) + "." + std::to_string(c.a[2]) + " vs " +
                     std::to_string(c.b[0]) + "." + std::to_string(c.b[1]) + "." + std::to_string(c.b[2]));
        EXPECT_EQ(aVersion_IsAtLeastCompare(c.a[0], c.a[1], c.a[2], c.b[0], c.b[1], c.b[2]), c.atLeast);
    }
}

TEST(AVersion, LibraryIsAtLeastOlderVersions)
{
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 5));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 6));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 99, 99));
    EXPECT_TRUE(aVersion_IsAtLeast(2, 10, 255));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 12, 0));
}

TEST(AVersion, HasFeatureMatchesNamesExactly)
{
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIO"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIONS"));
    EXPECT_FALSE(aVersion_HasFeature(""));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
}

TEST(AVersion, FeatureListIsOneLinePerFeature)
{
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    EXPECT_EQ(aVersion_DestroyFeatureList(&list), aErrNone);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(aVersion_DestroyFeatureList(&list), aErrParam);
    EXPECT_EQ(aVersion_DestroyFeatureList(nullptr), aErrParam);
}

} // namespace

// Tests of path joining: separators, overrun, the component limit and aliasing the buffer.
#include "Kestrelon2/common/aDirectory.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

// Components padded with null pointers: the first null ends the list for the function.
using Components = std::array<const char*, 12>;

aErr build(char* buffer, size_t size, const Components& c)
{
    return aDirectory_BuildPath(buffer, size, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10],
                                c[11], nullptr);
}

TEST(ADirectoryBuildPath, PutsOneSeparatorBetweenComponents)
{
    const struct {
        Components components;
        const char* expected;
    } cases[] = {
        {{"a/", "b"}, "a/b"},
        {{"a", "/b"}, "a/b"},
        {{"a", "b"}, "a/b"},
        {{"a/", "/b"}, "a//b"},
        {{"/", "etc"}, "/etc"},
        {{"a"}, "a"},
        {{"a", "b", "c"}, "a/b/c"},
        {{"/home/user", ".tessmark", "updater"}, "/home/user/.tessmark/updater"},
        {{"a", ""}, "a/"},
        {{"a", "", "b"}, "a/b"},
        {{"", "b"}, "b"},
        {{""}, ""},
        {{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, "0/1/2/3/4/5/6/7/8/9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        char buffer[64];
        EXPECT_EQ(build(buffer, sizeof buffer, c.components), aErrNone);
        EXPECT_STREQ(buffer, c.expected);
        if (c.components[1] != nullptr && c.components[2] == nullptr) {
            char joined[64];
            EXPECT_EQ(aDirectory_JoinPath(joined, sizeof joined, c.components[0], c.components[1]), aErrNone);
            EXPECT_STREQ(joined, c.expected);
        }
    }
}

TEST(ADirectoryBuildPath, NeedsRoomForTheTerminator)
{
    const struct {
        size_t size;
        aErr expected;
    } cases[] = {
        {8, aErrNone}, {7, aErrOverrun}, {1, aErrOverrun}, {0, aErrOverrun},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(aDirectory_JoinPath(buffer, c.size, "abc", "def"), c.expected);
        if (c.expected == aErrNone) {
            EXPECT_STREQ(buffer, "abc/def");
        } else {
            EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'Z')) << "nothing written";
        }
    }
}

TEST(ADirectoryBuildPath, JoinsAtMostTenComponents)
{
    char buffer[64] = "untouched";
    EXPECT_EQ(build(buffer, sizeof buffer, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}), aErrParam);
    EXPECT_STREQ(buffer, "untouched");
}

TEST(ADirectoryBuildPath, RefusesABufferThatIsAlsoAComponent)
{
    char buffer[32] = "base";
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof buffer, buffer, "child"), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof buffer, "parent", buffer), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof buffer, "parent", buffer + 2), aErrParam);
    EXPECT_STREQ(buffer, "base");
}

TEST(ADirectoryBuildPath, RefusesNullBufferOrFirstComponent)
{
    char buffer[16];
    EXPECT_EQ(aDirectory_JoinPath(nullptr, sizeof buffer, "a", "b"), aErrParam);
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, nullptr), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof buffer, "a", nullptr), aErrNone);
    EXPECT_STREQ(buffer, "a");
}

} // namespace

// Tests of the store's path joining.
#include "updater/UpdaterStore.h"

#include <gtest/gtest.h>

namespace {

TEST(BuildPath, PutsOneSeparatorBetweenEachTwoComponents)
{
    EXPECT_EQ(BuildPath("/home/user", ".tessmark", nullptr), "/home/user/.tessmark");
    EXPECT_EQ(BuildPath("/data", "updater", "0001A2B3", "1234.bird", nullptr), "/data/updater/0001A2B3/1234.bird");
    EXPECT_EQ(BuildPath("/data/", "updater", nullptr), "/data//updater");
    EXPECT_EQ(BuildPath("alone", nullptr), "alone");
    EXPECT_EQ(BuildPath("", "x", nullptr), "/x");
}

} // namespace

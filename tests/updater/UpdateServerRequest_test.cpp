// Tests of build-list ordering and version splitting.
#include "updater/UpdateServerRequest.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitKestrelonVersion, OnlyThreePartsCount)
{
    const struct {
        const char* text;
        std::vector<std::string> parts;
    } cases[] = {
        {"2.11.5", {"2", "11", "5"}}, {"2..1", {"2", "", "1"}}, {"2.11", {}}, {"2.11.5.1", {}}, {"", {}}, {"..", {"", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(UpdateServerRequest::SplitKestrelonVersion(c.text), c.parts);
    }
}

std::vector<std::string> Builds(const std::vector<std::pair<std::string, std::string>>& sorted)
{
    std::vector<std::string> builds;
    for (const auto& pair : sorted) {
        builds.push_back(pair.first);
    }
    return builds;
}

TEST(SortBuildsByVersion, NewestFirstComparingNumbers)
{
    const auto sorted = UpdateServerRequest::SortBuildsByVersion(
        {{"a", "2.10.0"}, {"b", "2.9.9"}, {"c", "10.0.1"}, {"d", "2.10.0rc"}, {"e", "2.10.1"}});
    const std::vector<std::string> builds = Builds(sorted);
    ASSERT_EQ(builds.size(), 5u);
    EXPECT_EQ(builds[0], "c");
    EXPECT_EQ(builds[1], "e");
    // "2.10.0rc" reads as 2.10.0: the two are equal and may come in either order.
    EXPECT_TRUE((builds[2] == "a" && builds[3] == "d") || (builds[2] == "d" && builds[3] == "a"));
    EXPECT_EQ(builds[4], "b");
}

TEST(SortBuildsByVersion, PartsCompareOnTheirLowEightBits)
{
    const auto sorted = UpdateServerRequest::SortBuildsByVersion({{"a", "2.256.0"}, {"b", "2.1.0"}});
    EXPECT_EQ(Builds(sorted), (std::vector<std::string>{"b", "a"}));
}

TEST(SortBuildsByVersion, UnreadableVersionsGoLastAndNothingIsLost)
{
    std::map<std::string, std::string> builds;
    for (int i = 0; i < 200; ++i) {
        // Enough entries for the sort to use its full algorithm, mixing good and bad versions.
        builds[std::to_string(1000 + i)] = i % 3 == 0 ? "x.y.z" : (i % 3 == 1 ? "2." + std::to_string(i % 17) + ".0" : "2.11");
    }
    const auto sorted = UpdateServerRequest::SortBuildsByVersion(builds);
    ASSERT_EQ(sorted.size(), builds.size());
    bool inTail = false;
    for (const auto& [build, version] : sorted) {
        const bool readable = version.rfind("2.", 0) == 0 && version != "2.11";
        if (!readable) {
            inTail = true;
        }
        EXPECT_FALSE(inTail && readable) << build << " " << version;
        EXPECT_EQ(builds.at(build), version);
    }
}

} // namespace

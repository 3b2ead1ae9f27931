// Tests of the directory functions that reach the file system and the user database.
#include "Kestrelon2/common/aDirectory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_file.h"

namespace {

class ADirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/unix_directory_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        std::ofstream(path("file")) << "x";
    }

    void TearDown() override
    {
        std::filesystem::permissions(root, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(root);
    }

    std::string path(const std::string& name) const { return root + "/" + name; }

    std::string root;
};

TEST_F(ADirectory, ExistsOnlyForDirectories)
{
    const struct {
        std::string path;
        bool expected;
    } cases[] = {
        {root, true}, {root + "/", true}, {"/", true}, {path("file"), false}, {path("missing"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(aDirectory_Exists(c.path.c_str()), c.expected);
    }
    EXPECT_FALSE(aDirectory_Exists(nullptr));
}

TEST_F(ADirectory, EnsureCreatesEveryMissingAncestor)
{
    const struct {
        std::string path;
        std::vector<std::string> created;
    } cases[] = {
        {path("one"), {path("one")}},
        {path("a/b/c"), {path("a"), path("a/b"), path("a/b/c")}},
        {path("a/b/d/"), {path("a/b/d")}},
        {path("x//y"), {path("x"), path("x/y")}},
        {path("a/b"), {path("a/b")}},
        {root, {root}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(aDirectory_Ensure(c.path.c_str(), 0755), aErrNone);
        for (const std::string& directory : c.created) {
            EXPECT_TRUE(std::filesystem::is_directory(directory)) << directory;
        }
    }
}

TEST_F(ADirectory, EnsureGivesEveryNewDirectoryTheMode)
{
    const mode_t mask = umask(022);
    const aErr result = aDirectory_Ensure(path("p/q").c_str(), 0750);
    umask(mask);
    ASSERT_EQ(result, aErrNone);
    for (const std::string& directory : {path("p"), path("p/q")}) {
        struct stat info;
        ASSERT_EQ(stat(directory.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0750u) << directory;
    }
}

TEST_F(ADirectory, EnsureFailsWhereAFileIsInTheWay)
{
    const std::string tooLong(aFILE_MAX_PATH + 1, 'a');
    const struct {
        const char* path;
        aErr expected;
    } cases[] = {
        {nullptr, aErrParam},
        {tooLong.c_str(), aErrFileNameLength},
        {"", aErrPermission},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(aDirectory_Ensure(c.path, 0755), c.expected);
    }
    for (const std::string& blocked : {path("file"), path("file/below"), path("file/below/deeper")}) {
        SCOPED_TRACE(blocked);
        EXPECT_EQ(aDirectory_Ensure(blocked.c_str(), 0755), aErrPermission);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(path("file")));
}

TEST_F(ADirectory, EnsureReportsPermissionDenied)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    ASSERT_EQ(chmod(root.c_str(), 0555), 0);
    EXPECT_EQ(aDirectory_Ensure(path("denied/below").c_str(), 0755), aErrPermission);
    EXPECT_FALSE(aDirectory_Exists(path("denied").c_str()));
}

TEST(ADirectoryHome, IsTheUserDatabaseEntry)
{
    const passwd* user = getpwuid(getuid());
    if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] == '\0') {
        GTEST_SKIP() << "the current user has no home directory in the user database";
    }
    const std::string expected = user->pw_dir;

    std::vector<char> exact(expected.size() + 1, 'Z');
    ASSERT_EQ(aDirectory_GetHomeDirectory(exact.data(), exact.size()), aErrNone);
    EXPECT_EQ(std::string(exact.data()), expected);

    std::vector<char> roomy(4096, 'Z');
    ASSERT_EQ(aDirectory_GetHomeDirectory(roomy.data(), roomy.size()), aErrNone);
    EXPECT_EQ(std::string(roomy.data()), expected);
}

TEST(ADirectoryHome, RefusesBuffersItDoesNotFit)
{
    char probe[4096];
    ASSERT_EQ(aDirectory_GetHomeDirectory(probe, sizeof probe), aErrNone);
    const size_t length = std::strlen(probe);
    for (const size_t size : {length, size_t{1}, size_t{0}}) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        std::vector<char> buffer(length + 2, 'Z');
        EXPECT_EQ(aDirectory_GetHomeDirectory(buffer.data(), size), aErrOverrun);
        EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(length + 2, 'Z')) << "nothing written";
    }
    EXPECT_EQ(aDirectory_GetHomeDirectory(nullptr, 16), aErrParam);
}

} // namespace

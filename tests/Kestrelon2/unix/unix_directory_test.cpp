// Tests of the directory functions that reach the file system and the user database.
#include "Kestrelon2/common/aDirectory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Kestrelon2/unix/unix_file.h"
#include "tests/support/ScopedLimit.h"

namespace {

std::string contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> names(const std::string& directory)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

// What one listing reported, by entry path.
struct Listed {
    uint64_t size;
    bool isDirectory;
    bool operator==(const Listed&) const = default;
};

bool collect(const aDirectoryListData* entry, void* context)
{
    (*static_cast<std::map<std::string, Listed>*>(context))[entry->path] = {entry->size, entry->isDirectory};
    return true;
}

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

TEST_F(ADirectory, ListGivesEveryEntryWithItsPathSizeAndKind)
{
    std::filesystem::create_directory(path("sub"));
    std::ofstream(path("ten")) << "0123456789";
    std::filesystem::create_symlink(path("missing"), path("dangling"));
    std::filesystem::create_symlink(path("sub"), path("linked"));

    std::map<std::string, Listed> seen;
    ASSERT_EQ(aDirectory_List(root.c_str(), collect, &seen), aErrNone);
    const auto directorySize = [](const std::string& directory) {
        struct stat info;
        stat(directory.c_str(), &info);
        return static_cast<uint64_t>(info.st_size);
    };
    const std::map<std::string, Listed> expected = {
        {path("."), {directorySize(root), true}},
        {path(".."), {directorySize(root + "/.."), true}},
        {path("file"), {1, false}},
        {path("ten"), {10, false}},
        {path("sub"), {directorySize(path("sub")), true}},
        {path("linked"), {directorySize(path("sub")), true}},
    };
    EXPECT_EQ(seen, expected) << "a dangling link cannot be examined and is left out";

    std::map<std::string, Listed> slashed;
    ASSERT_EQ(aDirectory_List((root + "/").c_str(), collect, &slashed), aErrNone);
    EXPECT_EQ(slashed, expected) << "no doubled separator";
}

TEST_F(ADirectory, ListStopsWhenTheCallbackDeclines)
{
    for (const char* name : {"a", "b", "c"}) {
        std::ofstream(path(name)) << name;
    }
    int calls = 0;
    const auto first = [](const aDirectoryListData*, void* context) {
        ++*static_cast<int*>(context);
        return false;
    };
    EXPECT_EQ(aDirectory_List(root.c_str(), first, &calls), aErrNone);
    EXPECT_EQ(calls, 1);
}

TEST_F(ADirectory, ListRefusesWhatItCannotOpen)
{
    std::map<std::string, Listed> seen;
    EXPECT_EQ(aDirectory_List(path("missing").c_str(), collect, &seen), aErrNotFound);
    EXPECT_EQ(aDirectory_List(path("file").c_str(), collect, &seen), aErrNotFound);
    EXPECT_EQ(aDirectory_List(nullptr, collect, &seen), aErrParam);
    EXPECT_EQ(aDirectory_List(root.c_str(), nullptr, &seen), aErrParam);
    EXPECT_TRUE(seen.empty());
}

TEST_F(ADirectory, DeleteRemovesOnlyAnEmptyDirectory)
{
    std::filesystem::create_directories(path("full/inner"));
    std::filesystem::create_directory(path("empty"));
    const struct {
        std::string path;
        aErr expected;
        bool remains;
    } cases[] = {
        {path("empty"), aErrNone, false},
        {path("full"), aErrUnknown, true},
        {path("missing"), aErrUnknown, false},
        {path("file"), aErrUnknown, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(aDirectory_Delete(c.path.c_str()), c.expected);
        EXPECT_EQ(std::filesystem::exists(c.path), c.remains);
    }
    EXPECT_EQ(aDirectory_Delete(nullptr), aErrParam);
}

TEST_F(ADirectory, DeleteTreeRemovesEverythingBelow)
{
    std::filesystem::create_directories(path("tree/b/c"));
    std::filesystem::create_directories(path("tree/b/empty"));
    std::ofstream(path("tree/b/c/deep")) << "deep";
    std::ofstream(path("tree/top")) << "top";
    std::ofstream(path("tree/.hidden")) << "hidden";
    EXPECT_EQ(aDirectory_DeleteTree(path("tree").c_str()), aErrNone);
    EXPECT_FALSE(std::filesystem::exists(path("tree")));
    EXPECT_EQ(names(root), std::set<std::string>{"file"});
}

TEST_F(ADirectory, DeleteTreeRemovesLinksButNotWhatTheyPointTo)
{
    std::filesystem::create_directories(path("outside/inner"));
    std::ofstream(path("outside/keep")) << "keep";
    std::filesystem::create_directories(path("tree/sub"));
    std::filesystem::create_symlink(path("outside"), path("tree/dirlink"));
    std::filesystem::create_symlink(path("outside/keep"), path("tree/filelink"));
    std::filesystem::create_symlink(path("outside"), path("tree/sub/deeplink"));
    std::filesystem::create_symlink(path("missing"), path("tree/dangling"));

    EXPECT_EQ(aDirectory_DeleteTree(path("tree").c_str()), aErrNone);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path("tree"))));
    EXPECT_EQ(contents(path("outside/keep")), "keep");
    EXPECT_TRUE(std::filesystem::is_directory(path("outside/inner")));
}

TEST_F(ADirectory, DeleteTreeRefusesWhatIsNotADirectory)
{
    std::filesystem::create_directory(path("outside"));
    std::ofstream(path("outside/keep")) << "keep";
    std::filesystem::create_symlink(path("outside"), path("link"));
    const struct {
        const char* path;
        aErr expected;
    } cases[] = {
        {nullptr, aErrParam},
        {"", aErrNotFound},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(aDirectory_DeleteTree(c.path), c.expected);
    }
    for (const std::string& refused : {path("link"), path("missing"), path("file")}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(aDirectory_DeleteTree(refused.c_str()), aErrNotFound);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(contents(path("outside/keep")), "keep");
    EXPECT_EQ(contents(path("file")), "x");
}

TEST_F(ADirectory, DeleteTreeStopsAtAFileItCannotRemove)
{
    std::filesystem::create_directories(path("tree/locked"));
    std::ofstream(path("tree/locked/stuck")) << "stuck";
    ASSERT_EQ(chmod(path("tree/locked").c_str(), 0555), 0);
    // Permissions do not bind root, so then the removal runs as the unprivileged user.
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0) {
        if (nobody == nullptr) {
            GTEST_SKIP() << "running as root without a user to drop to";
        }
        ASSERT_EQ(chmod(root.c_str(), 0755), 0);
        for (const std::string& owned : {path("tree"), path("tree/locked"), path("tree/locked/stuck")}) {
            ASSERT_EQ(chown(owned.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    const std::string printed = path("printed");
    const int output = open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(output, 0);
    fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
            _exit(100);
        }
        dup2(output, STDOUT_FILENO);
        _exit(static_cast<int>(aDirectory_DeleteTree(path("tree").c_str())));
    }
    close(output);
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; ended == 0 && waited < 1000; ++waited) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0) {
            usleep(10000);
        }
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    chmod(path("tree/locked").c_str(), 0755);
    ASSERT_EQ(ended, child) << "the removal did not end within ten seconds";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(aErrUnknown));
    EXPECT_EQ(contents(printed), "---error unlink-ing file [" + path("tree/locked/stuck") + "]\n");
    EXPECT_EQ(contents(path("tree/locked/stuck")), "stuck");
}

TEST_F(ADirectory, ReplaceFileWritesTheWholeNewContent)
{
    std::ofstream(path("longer")) << "a much longer old content";
    std::ofstream(path("shorter")) << "old";
    const struct {
        std::string name;
        std::string content;
    } cases[] = {
        {"new", "fresh"},
        {"longer", "short"},
        {"shorter", "a longer new content"},
        {"emptied", ""},
        {"binary", std::string("\0\xff\n\r", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* data = reinterpret_cast<const uint8_t*>(c.content.data());
        EXPECT_EQ(aDirectory_ReplaceFile(path(c.name).c_str(), data, c.content.size()), aErrNone);
        EXPECT_EQ(contents(path(c.name)), c.content);
    }
    EXPECT_EQ(aDirectory_ReplaceFile(path("nothing").c_str(), nullptr, 0), aErrNone);
    EXPECT_EQ(contents(path("nothing")), "");
    EXPECT_EQ(names(root), (std::set<std::string>{"file", "new", "longer", "shorter", "emptied", "binary", "nothing"}))
        << "no temporary file is left behind";
}

TEST_F(ADirectory, ReplaceFileKeepsTheOldPermissions)
{
    const mode_t mask = umask(022);
    std::ofstream(path("private")) << "old";
    chmod(path("private").c_str(), 0600);
    const uint8_t data[] = {'n', 'e', 'w'};
    const aErr replaced = aDirectory_ReplaceFile(path("private").c_str(), data, sizeof data);
    const aErr created = aDirectory_ReplaceFile(path("created").c_str(), data, sizeof data);
    umask(mask);
    ASSERT_EQ(replaced, aErrNone);
    ASSERT_EQ(created, aErrNone);
    struct stat info;
    ASSERT_EQ(stat(path("private").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(path("created").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << "a new file gets the usual mode";
}

TEST_F(ADirectory, ReplaceFileLeavesTheOldFileWhenTheFileSystemRefuses)
{
    const std::string old = "the complete old content";
    const std::string replacement(4096, 'n');
    const struct {
        const char* what;
        int resource;
        rlim_t limit;
        aErr expected;
        int error;
    } cases[] = {
        {"no file handle left", RLIMIT_NOFILE, openHandleCount(), aErrNotFound, EMFILE},
        {"disk full after a few bytes", RLIMIT_FSIZE, 16, aErrIO, EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path("target")) << old;
        aErr result;
        int error;
        {
            ScopedLimit limit(c.resource, c.limit);
            ASSERT_TRUE(limit.applied);
            result = aDirectory_ReplaceFile(path("target").c_str(), reinterpret_cast<const uint8_t*>(replacement.data()),
                                            replacement.size());
            error = errno;
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(contents(path("target")), old);
        EXPECT_EQ(names(root), (std::set<std::string>{"file", "target"})) << "no temporary file is left behind";
    }
}

TEST_F(ADirectory, ReplaceFileRefusesWhatCannotBeReplaced)
{
    std::filesystem::create_directory(path("directory"));
    const uint8_t data[] = {'x'};
    const std::string tooLong(aFILE_MAX_PATH + 1, 'a');
    const struct {
        std::string path;
        const uint8_t* data;
        aErr expected;
    } cases[] = {
        {path("missing/target"), data, aErrNotFound},
        {path("file/below"), data, aErrNotFound},
        {path("directory"), data, aErrIO},
        {path("nodata"), nullptr, aErrParam},
        {"", data, aErrParam},
        {tooLong, data, aErrFileNameLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 64));
        EXPECT_EQ(aDirectory_ReplaceFile(c.path.c_str(), c.data, 1), c.expected);
    }
    EXPECT_EQ(aDirectory_ReplaceFile(nullptr, data, 1), aErrParam);
    EXPECT_EQ(names(root), (std::set<std::string>{"file", "directory"}));
    EXPECT_TRUE(std::filesystem::is_empty(path("directory")));
    EXPECT_EQ(contents(path("file")), "x");
}

TEST_F(ADirectory, CWDIsTheWorkingDirectory)
{
    const std::string expected = std::filesystem::current_path().string();
    std::vector<char> exact(expected.size() + 1, 'Z');
    ASSERT_EQ(aDirectory_CWD(exact.data(), exact.size()), aErrNone);
    EXPECT_EQ(std::string(exact.data()), expected);

    std::vector<char> tight(expected.size() + 1, 'Z');
    EXPECT_EQ(aDirectory_CWD(tight.data(), expected.size()), aErrParam);
    EXPECT_EQ(std::string(tight.data(), tight.size()), std::string(expected.size() + 1, 'Z')) << "nothing written";
    EXPECT_EQ(aDirectory_CWD(nullptr, 64), aErrParam);
}

TEST(ADirectoryExecutable, IsTheRunningProgramCutToTheBuffer)
{
    const std::string expected = std::filesystem::read_symlink("/proc/self/exe").string();
    char whole[4096];
    ASSERT_EQ(aDirectory_ExecutableFilePath(whole, sizeof whole), aErrNone);
    EXPECT_EQ(std::string(whole), expected);
    for (const size_t size : {size_t{5}, size_t{1}}) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        char cut[8];
        std::memset(cut, 'Z', sizeof cut);
        ASSERT_EQ(aDirectory_ExecutableFilePath(cut, size), aErrNone);
        EXPECT_EQ(std::string(cut), expected.substr(0, size - 1));
    }
    EXPECT_EQ(aDirectory_ExecutableFilePath(whole, 0), aErrParam);
    EXPECT_EQ(aDirectory_ExecutableFilePath(nullptr, 16), aErrParam);
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
